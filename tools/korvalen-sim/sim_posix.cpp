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

volatile std::sig_atomic_t stopSignal = 0;

void recordStop(int signalNumber) { stopSignal = signalNumber; }

std::string objectName(const char* name) { return std::string("/") + name; }

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

PublishResult publishBlock(const char* name, const std::uint8_t* bytes, std::size_t size,
                           bool replaceStale, PublishedBlock* block) {
  const std::string object = objectName(name);
  if (replaceStale) shm_unlink(object.c_str());

  // O_EXCL: a block that exists may belong to the real monitor and must be left alone.
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      std::fprintf(stderr,
                   "korvalen-sim: %s is already published; not touching it (use --replace to "
                   "remove a stale one)\n",
                   name);
      return PublishResult::alreadyExists;
    }
    std::fprintf(stderr, "korvalen-sim: cannot create %s: %s\n", name, std::strerror(errno));
    return PublishResult::failed;
  }
  // The mode asked for is narrowed by the umask; readers run as other users too.
  fchmod(fd, 0644);

  void* view = nullptr;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0 ||
      (size != 0 &&
       (view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED)) {
    std::fprintf(stderr, "korvalen-sim: cannot size %s: %s\n", name, std::strerror(errno));
    close(fd);
    shm_unlink(object.c_str());
    return PublishResult::failed;
  }
  block->handle = fd;
  block->backingFile = -1;
  block->bytes = static_cast<volatile std::uint8_t*>(size != 0 ? view : nullptr);
  block->size = size;
  for (std::size_t i = 0; i < size; ++i) block->bytes[i] = bytes[i];
  return PublishResult::published;
}

void withdrawBlock(const char* name, PublishedBlock* block) {
  shm_unlink(objectName(name).c_str());
  if (block->bytes != nullptr) {
    munmap(const_cast<std::uint8_t*>(block->bytes), block->size);
    block->bytes = nullptr;
  }
  close(static_cast<int>(block->handle));
}

void installStopHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = recordStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a stop must interrupt waitpid and ppoll.
  for (int signalNumber : kStopSignals) sigaction(signalNumber, &action, nullptr);
  // A reader that went away must not kill us before the block is withdrawn.
  signal(SIGPIPE, SIG_IGN);
}

int runCommand(char* const* argv) {
  // The child starts with default dispositions: it should die of Ctrl-C as usual.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signalNumber : kStopSignals) sigaddset(&defaults, signalNumber);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  pid_t child;
  const int error = posix_spawnp(&child, argv[0], nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    std::fprintf(stderr, "korvalen-sim: cannot run %s: %s\n", argv[0], std::strerror(error));
    return 127;
  }

  int status = 0;
  bool forwarded = false;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 127;
    if (stopSignal != 0 && !forwarded) {
      kill(child, stopSignal);
      forwarded = true;
    }
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void holdUntilStopped() {
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int signalNumber : kStopSignals) sigaddset(&stops, signalNumber);
  // Signals stay blocked except inside ppoll, so none can slip in between the check and the wait.
  sigprocmask(SIG_BLOCK, &stops, &previous);
  sigset_t waiting = previous;
  for (int signalNumber : kStopSignals) sigdelset(&waiting, signalNumber);

  char buffer[512];
  while (stopSignal == 0) {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = ppoll(&input, 1, nullptr, &waiting);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (input.revents & (POLLERR | POLLNVAL)) break;
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) break;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}
