#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mqtt_platform.h"
#include "regular_file.h"
#include "textfile_posix.h"

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

namespace {

// Why the open file `status` may not serve as a password file, in `folder`; empty when it may.
std::string untrustedFile(const struct stat& status, const struct stat& folder) {
  if (!S_ISREG(status.st_mode)) return kNotRegular;
  if (!trusted(folder.st_uid))
    return "it stands in a folder that belongs to " + userName(folder.st_uid);
  if (!trusted(status.st_uid)) return "it belongs to " + userName(status.st_uid);
  if (status.st_nlink > 1) return "it has a second name";
  if ((status.st_mode & 077) != 0)
    return "the group or others may use it: make it the user's alone (chmod 600)";
  return "";
}

}  // namespace

std::string readPasswordFile(const std::string& path, std::size_t most, std::string* text) {
  OutputPlace place;
  std::string reason;
  if (!resolveOutput(path, &place, &reason)) return "cannot be read: " + reason;
  const int fd = openat(place.folder, place.name.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const int error = errno;
  struct stat folder, status;
  const bool looked = fd >= 0 && fstat(place.folder, &folder) == 0 && fstat(fd, &status) == 0;
  close(place.folder);
  if (!looked) {
    if (fd >= 0) close(fd);
    return "cannot be read: " + std::string(std::strerror(fd < 0 ? error : errno));
  }
  reason = untrustedFile(status, folder);
  if (reason.empty() && !readDescriptor(fd, most, text, &reason))
    reason = "cannot be read: " + reason;
  close(fd);
  return reason;
}

// A sanitizer's shadow memory is far beyond any such bound: there the bound is left off.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVALEN_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVALEN_SANITIZED 1
#endif

void limitMemory(std::size_t bytes) {
#ifndef KORVALEN_SANITIZED
  // Since Linux 4.7 the data limit covers every private mapping that can be written: the heap,
  // and what malloc maps for a large block.
  const struct rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_DATA, &limit);
#else
  (void)bytes;
#endif
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
