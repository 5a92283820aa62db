// POSIX: rename(2) replaces the file atomically, whoever has the old one open. The new file is
// made without a name (O_TMPFILE) where the filesystem can, so that a run killed while it writes
// leaves nothing; it is named `.NAME.tmp-XXXXXX` only once complete, just before the rename. Where
// O_TMPFILE is not supported, mkstemp names it from the start. Each writer holds an flock on its
// file from before the file has a name until the run ends, so a temporary that nobody holds
// locked was left by a killed run, and the next run removes it.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "textfile.h"

namespace {

constexpr const char kTemporaryTag[] = ".tmp-";
constexpr std::size_t kTemporaryRandom = 6;  // as mkstemp's XXXXXX
constexpr int kNotRegular = -1;              // not an errno: OUTPUT is not a regular file

// Writes all of `text` to `fd`. Returns 0, or the error that stopped it.
int writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno != EINTR) return errno;
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

// The file that replacing `path` writes: `path` itself when it is missing or a regular file, the
// file a link leads to when that is a regular file. Returns 0 with `*file` set, kNotRegular when
// `path` names anything else, or the error that stopped the look.
int fileToReplace(const std::string& path, std::string* file) {
  struct stat followed, own;
  if (stat(path.c_str(), &followed) != 0) {
    if (errno != ENOENT) return errno;
    if (lstat(path.c_str(), &own) == 0) return kNotRegular;  // a dangling link
    *file = path;
    return 0;
  }
  if (!S_ISREG(followed.st_mode)) return kNotRegular;
  if (lstat(path.c_str(), &own) != 0) return errno;
  if (!S_ISLNK(own.st_mode)) {
    *file = path;
    return 0;
  }
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return errno;
  *file = resolved;
  return 0;
}

// Removes from the folder open as `folder` the temporaries named `prefix` and six characters
// that are ours (owned by this user, regular files) and that no live run holds locked.
void removeAbandoned(int folder, const std::string& prefix) {
  const int listing = dup(folder);
  DIR* entries = listing < 0 ? nullptr : fdopendir(listing);
  if (entries == nullptr) {
    if (listing >= 0) close(listing);
    return;
  }
  while (const dirent* entry = readdir(entries)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + kTemporaryRandom || name.compare(0, prefix.size(), prefix))
      continue;
    const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held, named;
    // Still the file that was locked when the lock is had: a writer that took the name since
    // then holds another.
    if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      unlinkat(folder, name.c_str(), 0);
    }
    close(fd);
  }
  closedir(entries);
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
int makeTemporary(int folder, const std::string& folderPath, const std::string& prefix,
                  std::string* name) {
  name->clear();
  int fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    flock(fd, LOCK_EX);
    return fd;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string pattern = folderPath + "/" + prefix + "XXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    // Another run may have taken it for abandoned before the lock: then it has lost its name.
    struct stat made;
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &made) == 0 && made.st_nlink > 0) {
      *name = pattern.substr(folderPath.size() + 1);
      return fd;
    }
    close(fd);
  }
  errno = EEXIST;
  return -1;
}

// Writes `text` to a new file in the folder of `file` and renames it over `file`. Returns 0, or
// the error.
int writeBeside(const std::string& file, const std::string& text) {
  const std::size_t slash = file.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "."
                                 : slash == 0               ? "/"
                                                            : file.substr(0, slash);
  const std::string prefix =
      "." + (slash == std::string::npos ? file : file.substr(slash + 1)) + kTemporaryTag;
  const int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return errno;
  removeAbandoned(folder, prefix);

  std::string name;
  const int fd = makeTemporary(folder, folderPath, prefix, &name);
  int error = fd < 0 ? errno : writeAll(fd, text);
  // The collector runs as a user of its own; the file was made its owner's alone.
  if (error == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) error = errno;
  if (error == 0 && name.empty()) error = nameTemporary(folder, fd, prefix, &name);
  if (error == 0 && renameat(folder, name.c_str(), folder, file.substr(slash + 1).c_str()) != 0)
    error = errno;
  if (error != 0 && !name.empty()) unlinkat(folder, name.c_str(), 0);
  if (fd >= 0) close(fd);
  close(folder);
  return error;
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& text, std::string* reason) {
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, stop);
  sigprocmask(SIG_BLOCK, &stops, &previous);

  std::string file;
  int error = fileToReplace(path, &file);
  if (error == 0) error = writeBeside(file, text);

  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (error != 0) *reason = error == kNotRegular ? "not a regular file" : std::strerror(error);
  return error == 0;
}
