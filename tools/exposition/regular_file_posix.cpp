// POSIX: opened with O_NONBLOCK, so that a FIFO does not wait for a writer, and looked at
// through its descriptor before a byte is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "regular_file.h"

bool readDescriptor(int fd, std::size_t most, std::string* text, std::string* reason) {
  char piece[4096];
  while (text->size() <= most) {
    const ssize_t got = ::read(fd, piece, sizeof piece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *reason = std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    text->append(piece, static_cast<std::size_t>(got));
  }
  return true;
}

bool readRegularFile(const std::string& path, std::size_t most, std::string* text,
                     std::string* reason) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    *reason = std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  bool read = S_ISREG(status.st_mode);
  if (!read) *reason = "not a regular file";
  read = read && readDescriptor(fd, most, text, reason);
  close(fd);
  return read;
}
