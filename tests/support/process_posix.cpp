#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "process.h"

extern char** environ;

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
    case OutputSink::fullDevice:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case OutputSink::closedPipe:
      // A reader that is gone before anything is written: every write fails with EPIPE.
      if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
      close(pipeEnds[0]);
      posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
      posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
      break;
  }
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);

  // The child must meet SIGPIPE with its default action, as from a shell.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child;
  const int error = posix_spawn(&child, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);

  int status = 0;
  waitpid(child, &status, 0);
  ProcessResult result;
  result.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
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
