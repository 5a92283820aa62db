#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "mqtt_platform.h"

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

std::string passwordFileProblem(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && (status.st_mode & 044) != 0)
    return "the group or others may read it: make it the user's alone (chmod 600)";
  return "";
}

namespace {

// What the alarm's handler says and ends with: set before the alarm, read in the handler alone.
char deadlineLine[512];
std::size_t deadlineLength = 0;
int deadlineStatus = 0;

void onDeadline(int) {
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, deadlineLine, deadlineLength);
  _exit(deadlineStatus);
}

}  // namespace

void setDeadline(int seconds, const std::string& line, int status) {
  alarm(0);
  if (seconds == 0) return;
  // A line too long for the buffer is cut, and still ends as a line.
  deadlineLength = std::min(line.size(), sizeof deadlineLine);
  std::memcpy(deadlineLine, line.data(), deadlineLength);
  deadlineLine[deadlineLength - 1] = '\n';
  deadlineStatus = status;
  struct sigaction action = {};
  action.sa_handler = onDeadline;
  sigaction(SIGALRM, &action, nullptr);
  alarm(static_cast<unsigned>(seconds));
}
