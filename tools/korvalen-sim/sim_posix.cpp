// POSIX: a block is a shared-memory object, which outlives its creator until it is unlinked.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim_platform.h"

extern char** environ;

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile std::sig_atomic_t lastStop = 0;  // the signal of the latest stop
volatile std::sig_atomic_t stops = 0;     // how many stops have arrived

void recordStop(int signalNumber) {
  lastStop = signalNumber;
  stops = stops + 1;
}

// Only interrupts sigsuspend when a child ends.
void noteChild(int) {}

// The mask to wait with: everything as it was at start, but stops and SIGCHLD let through.
sigset_t waitingMask;
// The mask the program started with, for the command.
sigset_t startMask;

std::string objectName(const char* name) { return std::string("/") + name; }

// Unlinks `name` only while it still refers to the object of `block`: a sim started later with
// --replace may have published its own under the name meanwhile.
void unlinkIfOurs(const char* name, const PublishedBlock& block) {
  const std::string object = objectName(name);
  // The owner may open the object again only if its mode lets it (a refused block has none).
  fchmod(static_cast<int>(block.handle), 0600);
  const int probe = shm_open(object.c_str(), O_RDONLY | O_NONBLOCK, 0);
  if (probe < 0) return;
  struct stat status;
  const bool ours = fstat(probe, &status) == 0 &&
                    static_cast<std::uint64_t>(status.st_dev) == block.device &&
                    static_cast<std::uint64_t>(status.st_ino) == block.inode;
  close(probe);
  if (ours) shm_unlink(object.c_str());
}

}  // namespace

const PlatformHelp kPlatformHelp = {
    "Lifetime:\n"
    "  -- COMMAND [ARG...]       run COMMAND while the block is published, then\n"
    "                            withdraw it and exit with COMMAND's status; a\n"
    "                            SIGINT, SIGTERM, SIGHUP or SIGQUIT is passed on\n"
    "                            to COMMAND\n"
    "  (no command)              hold the block until SIGINT, SIGTERM, SIGHUP,\n"
    "                            SIGQUIT or the end of standard input\n",
    "Ctrl-C, SIGTERM or end of input",
    "remove a block that a killed run left under\nthe name first",
    "give the block mode 0, which every user but\nroot obeys: others cannot open it"};

bool publishBlock(const char* name, const std::uint8_t* bytes, std::size_t size,
                  const PublishOptions& options, PublishedBlock* block) {
  const std::string object = objectName(name);
  if (options.replaceStale && shm_unlink(object.c_str()) != 0 && errno != ENOENT) {
    std::fprintf(stderr, "korvalen-sim: --replace: cannot remove %s: %s\n", name,
                 std::strerror(errno));
    return false;
  }

  // O_EXCL: a block that exists may belong to the real monitor and must be left alone.
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    if (errno == EEXIST) {
      std::fprintf(stderr,
                   "korvalen-sim: %s is already published; not touching it (use --replace to "
                   "remove a stale one)\n",
                   name);
    } else {
      std::fprintf(stderr, "korvalen-sim: cannot create %s: %s\n", name, std::strerror(errno));
    }
    return false;
  }
  struct stat status;
  fstat(fd, &status);
  *block = {fd,
            -1,
            nullptr,
            size,
            static_cast<std::uint64_t>(status.st_dev),
            static_cast<std::uint64_t>(status.st_ino)};

  // The pages are allocated up front: on a full file system a block that was merely sized would
  // kill with SIGBUS whoever touched it first, us or a reader.
  int error = size == 0 ? 0 : posix_fallocate(fd, 0, static_cast<off_t>(size));
  void* view = nullptr;
  if (error == 0 && size != 0) {
    view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) error = errno;
  }
  if (error != 0) {
    std::fprintf(stderr, "korvalen-sim: cannot allocate %zu bytes for %s: %s\n", size, name,
                 std::strerror(error));
    unlinkIfOurs(name, *block);
    close(fd);
    return false;
  }
  block->bytes = static_cast<volatile std::uint8_t*>(size != 0 ? view : nullptr);
  for (std::size_t i = 0; i < size; ++i) block->bytes[i] = bytes[i];
  // Readers run as other users too; the mode asked for above was narrowed by the umask.
  fchmod(fd, options.refuseReaders ? 0 : 0644);
  return true;
}

void withdrawBlock(const char* name, PublishedBlock* block) {
  unlinkIfOurs(name, *block);
  if (block->bytes != nullptr) {
    munmap(const_cast<std::uint8_t*>(block->bytes), block->size);
    block->bytes = nullptr;
  }
  close(static_cast<int>(block->handle));
}

void installStopHandlers() {
  // Stops and SIGCHLD stay blocked except while we wait (ppoll, sigsuspend), so that one that
  // arrives early stays pending until then instead of slipping in before the wait.
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signalNumber : kStopSignals) sigaddset(&blocked, signalNumber);
  sigaddset(&blocked, SIGCHLD);
  sigprocmask(SIG_BLOCK, &blocked, &startMask);
  waitingMask = startMask;
  for (int signalNumber : kStopSignals) sigdelset(&waitingMask, signalNumber);
  sigdelset(&waitingMask, SIGCHLD);

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = recordStop;
  for (int signalNumber : kStopSignals) sigaction(signalNumber, &action, nullptr);
  action.sa_handler = noteChild;
  sigaction(SIGCHLD, &action, nullptr);
  // A reader that went away must not kill us before the block is withdrawn.
  signal(SIGPIPE, SIG_IGN);
}

int runCommand(const std::vector<std::string>& command) {
  // The child starts as if we were not there: default dispositions, the mask we were given.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signalNumber : kStopSignals) sigaddset(&defaults, signalNumber);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &startMask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child;
  const int error = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    std::fprintf(stderr, "korvalen-sim: cannot run %s: %s\n", argv[0], std::strerror(error));
    return error == ENOENT || error == ENOTDIR ? kNotFoundStatus : kCannotExecuteStatus;
  }

  // Stops are passed on, each once, and the command decides when to end.
  int status = 0;
  std::sig_atomic_t forwarded = 0;
  for (;;) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) {
      std::fprintf(stderr, "korvalen-sim: lost %s: %s\n", argv[0], std::strerror(errno));
      return kCannotExecuteStatus;
    }
    if (stops != forwarded) {
      forwarded = stops;
      kill(child, lastStop);
      continue;
    }
    sigsuspend(&waitingMask);
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void holdUntilStopped() {
  char buffer[512];
  while (stops == 0) {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = ppoll(&input, 1, nullptr, &waitingMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (input.revents & (POLLERR | POLLNVAL)) break;
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) break;
  }
}
