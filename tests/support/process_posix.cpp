#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
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

// Starts `argv` with standard input on /dev/null or, when `input` is given, on a pipe whose
// write end it receives; standard output as `sink` says (`outPath` for a capture); standard
// error on `errPath`. The child meets SIGPIPE with its default action, as from a shell, and
// leads a process group of its own, so that a hung child can be stopped with all it started.
pid_t start(const std::vector<std::string>& argv, int* input, OutputSink sink,
            const std::string& outPath, const std::string& errPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int inputEnds[2] = {-1, -1}, outputEnds[2] = {-1, -1};
  if (input != nullptr && pipe(inputEnds) == 0) {
    posix_spawn_file_actions_adddup2(&actions, inputEnds[0], 0);
    posix_spawn_file_actions_addclose(&actions, inputEnds[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (sink == OutputSink::closedPipe && pipe(outputEnds) == 0) {
    close(outputEnds[0]);  // a reader gone before anything is written
    posix_spawn_file_actions_adddup2(&actions, outputEnds[1], 1);
  } else if (sink == OutputSink::closed) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    static_assert(static_cast<int>(OutputSink::fullDevice) == 2);
    const char* const paths[] = {outPath.c_str(), "/dev/null", "/dev/full"};
    posix_spawn_file_actions_addopen(&actions, 1, paths[static_cast<int>(sink)],
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
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
  const int error = posix_spawn(&child, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int end : {inputEnds[0], outputEnds[1]}) {
    if (end >= 0) close(end);
  }
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
  if (input != nullptr) *input = inputEnds[1];
  return child;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, OutputSink sink) {
  const std::string outPath = scratchPath("stdout");
  const std::string errPath = scratchPath("stderr");
  const pid_t child = start(argv, nullptr, sink, outPath, errPath);
  int status = 0;
  if (!waitFor(child, kProcessTimeLimitSeconds, &status)) {
    // SIGTERM first, so that a simulator among them withdraws its block.
    kill(-child, SIGTERM);
    if (!waitFor(child, 5, &status)) kill(-child, SIGKILL);
    waitpid(child, &status, 0);
    throw std::runtime_error(argv[0] + " did not end within " +
                             std::to_string(kProcessTimeLimitSeconds) + " s and was stopped");
  }
  ProcessResult result{exitStatus(status), readFile(outPath), readFile(errPath)};
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

BackgroundProcess startInBackground(const std::vector<std::string>& argv, bool keepInput) {
  BackgroundProcess process{-1, -1};
  process.pid = start(argv, keepInput ? &process.input : nullptr, OutputSink::nullDevice,
                      "/dev/null", "/dev/null");
  return process;
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
  for (std::string arg : argv) {
    if (arg.rfind(builtFolder, 0) == 0) {
      const std::filesystem::path copy = shared.path / arg.substr(builtFolder.size());
      std::filesystem::copy_file(arg, copy, std::filesystem::copy_options::skip_existing);
      arg = copy.string();
    }
    wrapped.push_back(arg);
  }
  return wrapped;
}

std::string builtProgram(const std::string& name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

std::string scratchPath(const std::string& leaf) {
  static unsigned counter = 0;
  return std::filesystem::temp_directory_path() / ("korvalen-test-" + std::to_string(getpid()) +
                                                   "-" + std::to_string(counter++) + "-" + leaf);
}

std::string textModeLines(const std::string& text) { return text; }

bool usePrivateBlockFolder() {
  const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
  if (unshare(CLONE_NEWNS) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    writeFile("/proc/self/setgroups", "deny");
    writeFile("/proc/self/uid_map", uid + " " + uid + " 1");
    writeFile("/proc/self/gid_map", gid + " " + gid + " 1");
  }
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("korvalen-tests", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}
