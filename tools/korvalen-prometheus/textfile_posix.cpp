// POSIX: rename(2) replaces the file atomically, whoever has the old one open.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "textfile.h"

namespace {

// Writes all of `text` to `fd`. Returns 0, or the error that stopped it.
int writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno != EINTR) return errno;
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& text, std::string* reason) {
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, stop);
  sigprocmask(SIG_BLOCK, &stops, &previous);

  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  int error = fd < 0 ? errno : writeAll(fd, text);
  // The collector runs as a user of its own; mkstemp made the file its owner's alone.
  if (error == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) error = errno;
  if (fd >= 0 && close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0 && fd >= 0) unlink(temporary.c_str());

  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (error != 0) *reason = std::strerror(error);
  return error == 0;
}
