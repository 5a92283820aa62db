#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "process.h"

extern char** environ;

namespace {

// Waits up to `seconds` for `child` to end; returns false when it is still running.
bool waitFor(pid_t child, int seconds, int* status) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  if (pidfd < 0) throw std::runtime_error("pidfd_open");
  struct pollfd ended = {pidfd, POLLIN, 0};
  int ready;
  while ((ready = poll(&ended, 1, seconds * 1000)) < 0 && errno == EINTR) {
  }
  close(pidfd);
  return ready > 0 && waitpid(child, status, 0) == child;
}

int exitStatus(int waitStatus) {
  return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : WEXITSTATUS(waitStatus);
}

// Starts `argv` with `actions`; the child meets SIGPIPE with its default action, as from a
// shell, and leads a process group of its own, so that a hung child can be stopped with
// whatever it started.
pid_t spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t* actions) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child;
  const int error = posix_spawn(&child, args[0], actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
  return child;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, OutputSink sink) {
  const std::string outPath = scratchPath("stdout");
  const std::string errPath = scratchPath("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  int pipeEnds[2] = {-1, -1};
  switch (sink) {
    case OutputSink::capture:
      posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
      break;
    case OutputSink::nullDevice:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      break;
    case OutputSink::fullDevice:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case OutputSink::closedPipe:
      if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
      close(pipeEnds[0]);
      posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
      posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
      break;
    case OutputSink::closed:
      posix_spawn_file_actions_addclose(&actions, 1);
      break;
  }
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const pid_t child = spawn(argv, &actions);
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);

  int status = 0;
  if (!waitFor(child, kProcessTimeLimitSeconds, &status)) {
    // SIGTERM first, so that a simulator among them withdraws its block.
    kill(-child, SIGTERM);
    if (!waitFor(child, 5, &status)) kill(-child, SIGKILL);
    waitpid(child, &status, 0);
    throw std::runtime_error(argv[0] + " did not end within " +
                             std::to_string(kProcessTimeLimitSeconds) + " s and was stopped");
  }
  ProcessResult result;
  result.status = exitStatus(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

BackgroundProcess startInBackground(const std::vector<std::string>& argv, bool keepInput) {
  int ends[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (keepInput) {
    if (pipe(ends) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    posix_spawn_file_actions_addclose(&actions, ends[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const pid_t child = spawn(argv, &actions);
  if (keepInput) close(ends[0]);
  return {child, ends[1]};
}

int awaitEnd(BackgroundProcess& process) {
  if (process.input >= 0) close(process.input);
  process.input = -1;
  int status = 0;
  if (waitFor(process.pid, 5, &status)) return exitStatus(status);
  kill(process.pid, SIGKILL);
  waitpid(process.pid, &status, 0);
  return -1;
}

std::vector<std::string> withoutPrivilege(const std::vector<std::string>& argv) {
  return geteuid() == 0 ? asUser("nobody", argv) : argv;
}

std::vector<std::string> asUser(const std::string& user, const std::vector<std::string>& argv) {
  const struct passwd* entry = getpwnam(user.c_str());
  if (entry == nullptr) throw std::runtime_error("no user " + user);
  // The build folder may be closed to other users; the programs run from a copy that is not.
  static const struct SharedFolder {
    std::filesystem::path path = scratchPath("programs");
    SharedFolder() {
      std::filesystem::create_directory(path);
      std::filesystem::permissions(path, std::filesystem::perms(0755));
    }
    ~SharedFolder() { std::filesystem::remove_all(path); }
  } shared;
  std::vector<std::string> wrapped{"/usr/bin/setpriv", "--reuid=" + std::to_string(entry->pw_uid),
                                   "--regid=" + std::to_string(entry->pw_gid), "--clear-groups"};
  const std::string builtFolder = builtProgram("");
  for (const std::string& arg : argv) {
    if (arg.rfind(builtFolder, 0) != 0) {
      wrapped.push_back(arg);
      continue;
    }
    const std::filesystem::path copy = shared.path / arg.substr(builtFolder.size());
    std::filesystem::copy_file(arg, copy, std::filesystem::copy_options::skip_existing);
    wrapped.push_back(copy.string());
  }
  return wrapped;
}

std::string builtProgram(const std::string& name) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) throw std::runtime_error("cannot find the test program");
  std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + name;
}

std::string scratchPath(const std::string& leaf) {
  static unsigned counter = 0;
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr ? tmp : "/tmp") + "/korvalen-test-" + std::to_string(getpid()) +
         "-" + std::to_string(counter++) + "-" + leaf;
}

std::string textModeLines(const std::string& text) { return text; }
