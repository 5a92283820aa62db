// POSIX: rename(2) replaces the file atomically, whoever has the old one open. The new file is
// made without a name (O_TMPFILE) where the filesystem can, so that a run killed while it writes
// leaves nothing; it is named `.NAME.tmp-XXXXXX` only once complete, just before the rename. Where
// O_TMPFILE is not supported, it is created under that name from the start. Each writer holds an
// flock on its file from before the file has a name until the run ends, so a temporary that
// nobody holds locked was left by a killed run, and the next run removes it.
//
// Run by root, the program writes only where no other user can steer it: OUTPUT is resolved one
// name at a time from "/", links followed by hand, and each folder passed through and each link
// followed must belong to root or to the caller (as systemd refuses an "unsafe path transition").
// Everything after that works on the one folder descriptor the walk ends with, so a folder that
// is swapped meanwhile changes nothing.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "quoting.h"
#include "textfile.h"

namespace {

constexpr const char kTemporaryTag[] = ".tmp-";
constexpr std::size_t kTemporaryRandom = 6;  // as mkstemp's XXXXXX
constexpr int kMaxLinks = 40;                // as the kernel's own limit for one path
constexpr const char kNotRegular[] = "not a regular file";

// Sets `*reason` to `text` and returns false: how a step of the look fails.
bool refuse(std::string* reason, std::string text) {
  *reason = std::move(text);
  return false;
}

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

// The name of user `uid` in /etc/passwd, or "user UID". Read by hand: a static program has no
// name service to ask.
std::string userName(uid_t uid) {
  std::ifstream passwd("/etc/passwd");
  const std::string id = std::to_string(uid);
  for (std::string line; std::getline(passwd, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second != std::string::npos && line.compare(second + 1, id.size() + 1, id + ":") == 0)
      return line.substr(0, first);
  }
  return "user " + id;
}

// The names of `path` in order, without empty ones: "a//b/" gives a, b and ".", so that a
// trailing slash still asks for a folder.
std::vector<std::string> namesOf(const std::string& path) {
  std::vector<std::string> names;
  for (std::size_t from = 0; from <= path.size();) {
    const std::size_t slash = std::min(path.find('/', from), path.size());
    if (slash > from) names.push_back(path.substr(from, slash - from));
    from = slash + 1;
  }
  if (!path.empty() && path.back() == '/') names.push_back(".");
  return names;
}

// Where OUTPUT's file is: the folder that holds it, open for reading, and its name there.
struct Destination {
  int folder = -1;
  std::string name;
};

// The folders that a walk has passed through, from "/" down, open with O_PATH.
class Walk {
 public:
  ~Walk() {
    for (const int fd : folders_) close(fd);
  }
  int current() const { return folders_.back(); }
  std::string pathOf(const std::string& name) const {
    return (path_.size() > 1 ? path_ + "/" : path_) + name;
  }
  void enter(int fd, const std::string& name) {
    path_ = folders_.empty() ? name : pathOf(name);
    folders_.push_back(fd);
  }
  void up() {
    if (folders_.size() < 2) return;  // "/.." is "/"
    close(folders_.back());
    folders_.pop_back();
    path_.erase(std::max<std::size_t>(path_.rfind('/'), 1));
  }
  void toRoot() {
    while (folders_.size() > 1) up();
  }

 private:
  std::vector<int> folders_;
  std::string path_;
};

// Whether a folder or link of `status` may lead the caller on: root's or the caller's own.
bool trusted(const struct stat& status) { return status.st_uid == 0 || status.st_uid == geteuid(); }

// Finds where replacing `path` writes: `path` itself when it is missing or a regular file, the
// file a link leads to when that is a regular file. Returns true with `*destination` set; or
// false with `*reason` set, when `path` names anything else (a device, a FIFO, a socket, a
// folder, a dangling link), when a folder on the way or a link followed belongs to another user
// than root or the caller, or when a step fails.
bool findDestination(const std::string& path, Destination* destination, std::string* reason) {
  std::string full = path;
  if (path.empty()) return refuse(reason, std::strerror(ENOENT));
  if (path[0] != '/') {
    char working[PATH_MAX];
    if (getcwd(working, sizeof working) == nullptr) return refuse(reason, std::strerror(errno));
    full = std::string(working) + "/" + path;
  }
  std::vector<std::string> pending = namesOf(full);
  std::reverse(pending.begin(), pending.end());  // the next name last

  Walk walk;
  const int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return refuse(reason, std::strerror(errno));
  walk.enter(root, "/");
  int links = 0;
  bool lastFromLink = false;  // the final name was a link's
  while (!pending.empty()) {
    const std::string name = pending.back();
    pending.pop_back();
    if (name == ".") continue;
    if (name == "..") {
      walk.up();
      continue;
    }
    const bool last = pending.empty();
    const int fd = openat(walk.current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
      const int error = errno;
      if (fd >= 0) close(fd);
      if (error != ENOENT || !last) return refuse(reason, std::strerror(error));
      if (lastFromLink) return refuse(reason, kNotRegular);  // a dangling link
      destination->name = name;
      break;
    }
    if (last && !S_ISLNK(status.st_mode)) {
      close(fd);
      if (!S_ISREG(status.st_mode)) return refuse(reason, kNotRegular);
      destination->name = name;
      break;
    }
    // Passed through or followed: it must be root's or the caller's.
    if (!trusted(status)) {
      close(fd);
      return refuse(reason,
                    shellQuoted(walk.pathOf(name)) + " belongs to " + userName(status.st_uid));
    }
    if (S_ISLNK(status.st_mode)) {
      char target[PATH_MAX];
      const ssize_t length = readlinkat(fd, "", target, sizeof target);
      const int error = errno;
      close(fd);
      if (length < 0) return refuse(reason, std::strerror(error));
      if (++links > kMaxLinks || static_cast<std::size_t>(length) == sizeof target)
        return refuse(reason, std::strerror(links > kMaxLinks ? ELOOP : ENAMETOOLONG));
      const std::string text(target, static_cast<std::size_t>(length));
      if (text.empty()) return refuse(reason, std::strerror(ENOENT));
      if (text[0] == '/') walk.toRoot();
      std::vector<std::string> names = namesOf(text);
      pending.insert(pending.end(), names.rbegin(), names.rend());
      lastFromLink = lastFromLink || last;
      continue;
    }
    if (!S_ISDIR(status.st_mode)) {
      close(fd);
      return refuse(reason, std::strerror(ENOTDIR));
    }
    walk.enter(fd, name);
  }
  if (destination->name.empty()) return refuse(reason, kNotRegular);  // it named a folder
  destination->folder = openat(walk.current(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (destination->folder < 0) return refuse(reason, std::strerror(errno));
  return true;
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

// What the temporaries of `name` in `folder` begin with: `.NAME.tmp-`, NAME cut so that the
// whole name, six characters more, stays within the folder's limit on a name.
std::string temporaryPrefix(int folder, const std::string& name) {
  const long limit = fpathconf(folder, _PC_NAME_MAX);
  const std::size_t room = (limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX) -
                           (1 + sizeof kTemporaryTag - 1 + kTemporaryRandom);
  return "." + name.substr(0, room) + kTemporaryTag;
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

// Writes `text` to a new file in `destination`'s folder and renames it over the file there.
// Returns 0, or the error.
int writeBeside(const Destination& destination, const std::string& text) {
  const int folder = destination.folder;
  const std::string prefix = temporaryPrefix(folder, destination.name);
  removeAbandoned(folder, prefix);

  std::string name;
  const int fd = makeTemporary(folder, prefix, &name);
  int error = fd < 0 ? errno : writeAll(fd, text);
  // The collector runs as a user of its own; the file was made its owner's alone.
  if (error == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) error = errno;
  if (error == 0 && name.empty()) error = nameTemporary(folder, fd, prefix, &name);
  if (error == 0 && renameat(folder, name.c_str(), folder, destination.name.c_str()) != 0)
    error = errno;
  if (error != 0 && !name.empty()) unlinkat(folder, name.c_str(), 0);
  if (fd >= 0) close(fd);
  return error;
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& text, std::string* reason) {
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, stop);
  sigprocmask(SIG_BLOCK, &stops, &previous);

  Destination destination;
  bool replaced = findDestination(path, &destination, reason);
  if (replaced) {
    const int error = writeBeside(destination, text);
    if (error != 0) *reason = std::strerror(error);
    replaced = error == 0;
  }
  if (destination.folder >= 0) close(destination.folder);

  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return replaced;
}
