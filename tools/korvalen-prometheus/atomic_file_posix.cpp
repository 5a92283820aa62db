// The atomic writer: rename(2) replaces the file whole, whoever has the old one open. The new
// file is made without a name (O_TMPFILE) where the filesystem can, so that a run killed while it
// writes leaves nothing; it is named `.NAME.tmp-XXXXXX` only once complete, just before the
// rename. Where O_TMPFILE is not supported, it is created under that name from the start. Each
// writer holds an flock on its file from before the file has a name until the run ends, so a
// temporary that nobody holds locked was left by a killed run (removeAbandoned).
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "textfile_posix.h"

namespace {

constexpr const char kTemporaryTag[] = ".tmp-";

// Writes all of `text` to `fd`. Returns 0, or the error that stopped it; a write that writes
// nothing and reports no error is taken for a full disk, as gnulib's full_write takes it.
int writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno != EINTR) return errno;
    if (wrote == 0) return ENOSPC;
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

// Six characters for a temporary's name, from the ones mkstemp uses.
std::string randomCharacters() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device source;
  std::string text;
  for (std::size_t i = 0; i < kTemporaryRandom; ++i) text += kLetters[source() % 62];
  return text;
}

// Gives the nameless file `fd` a new name `prefix` and six characters in `folder`. Returns 0
// with `*name` set, or the error.
int nameTemporary(int folder, int fd, const std::string& prefix, std::string* name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = prefix + randomCharacters();
    int linked = linkat(AT_FDCWD, self.c_str(), folder, name->c_str(), AT_SYMLINK_FOLLOW);
    // Without /proc, only a caller who may open any file by its descriptor links it so.
    if (linked != 0 && errno == ENOENT)
      linked = linkat(fd, "", folder, name->c_str(), AT_EMPTY_PATH);
    if (linked == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Makes the new file in `folder`, locked: nameless when the filesystem can, else named `prefix`
// and six characters (`*name`). Returns the descriptor, or -1 with errno set.
int makeTemporary(int folder, const std::string& prefix, std::string* name) {
  name->clear();
  int fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    flock(fd, LOCK_EX);
    return fd;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = prefix + randomCharacters();
    fd = openat(folder, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    // Another run may have taken it for abandoned before the lock: then it has lost its name.
    struct stat made;
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &made) == 0 && made.st_nlink > 0) return fd;
    close(fd);
  }
  name->clear();
  if (fd >= 0 || errno == EEXIST) errno = EEXIST;
  return -1;
}

}  // namespace

std::string temporaryPrefix(int folder, const std::string& name) {
  const long limit = fpathconf(folder, _PC_NAME_MAX);
  const std::size_t room = (limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX) -
                           (1 + sizeof kTemporaryTag - 1 + kTemporaryRandom);
  return "." + name.substr(0, room) + kTemporaryTag;
}

int writeAtomically(int folder, const std::string& name, const std::string& prefix,
                    const std::string& text) {
  std::string temporary;
  const int fd = makeTemporary(folder, prefix, &temporary);
  int error = fd < 0 ? errno : writeAll(fd, text);
  if (error == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) error = errno;
  if (error == 0 && temporary.empty()) error = nameTemporary(folder, fd, prefix, &temporary);
  if (error == 0 && renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) error = errno;
  if (error != 0 && !temporary.empty()) unlinkat(folder, temporary.c_str(), 0);
  if (fd >= 0) close(fd);
  return error;
}
