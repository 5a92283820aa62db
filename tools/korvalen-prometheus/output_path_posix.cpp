// The path walker: OUTPUT resolved as the kernel would, but one name at a time, so that each link
// can be judged by its owner and its folder's before it is followed (as systemd's chase refuses
// an unsafe transition). The walk holds one descriptor, the folder it stands in; each folder above
// is remembered by its device and inode, so that ".." is taken by name and yet refused when the
// folder it leads back to is no longer where the path put it.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "quoting.h"
#include "textfile_posix.h"

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit for one path

// Sets `*reason` to `text` and returns false: how a step of the walk fails.
bool refuse(std::string* reason, std::string text) {
  *reason = std::move(text);
  return false;
}

}  // namespace

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

bool trusted(uid_t owner) { return owner == 0 || owner == geteuid(); }

namespace {

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

// Where a walk stands: the folder open with O_PATH, its owner, its path for messages, and the
// folders above it from "/" down, by device and inode, with their owners.
class Walk {
 public:
  ~Walk() {
    if (folder_ >= 0) close(folder_);
  }
  // Starts at "/", or goes back there. Returns 0 or the error.
  int toRoot() {
    if (folder_ >= 0) close(folder_);
    above_.clear();
    path_ = "/";
    struct stat status;
    folder_ = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0 || fstat(folder_, &status) != 0) return errno;
    here_ = {status.st_dev, status.st_ino, status.st_uid};
    return 0;
  }
  int folder() const { return folder_; }
  uid_t owner() const { return here_.owner; }
  const std::string& path() const { return path_; }
  std::string pathOf(const std::string& name) const {
    return (path_.size() > 1 ? path_ + "/" : path_) + name;
  }
  // Steps into `fd`, the folder `name` of this one, of `status`.
  void enter(int fd, const std::string& name, const struct stat& status) {
    above_.push_back(here_);
    here_ = {status.st_dev, status.st_ino, status.st_uid};
    path_ = pathOf(name);
    close(folder_);
    folder_ = fd;
  }
  // Steps back to the folder above, "/" staying "/". Returns 0, or the error; kMoved when that
  // folder is not the one the walk came through (this one was moved meanwhile).
  static constexpr int kMoved = -1;
  int up() {
    if (above_.empty()) return 0;
    const int fd = openat(folder_, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
      const int error = errno;
      if (fd >= 0) close(fd);
      return error;
    }
    if (status.st_dev != above_.back().device || status.st_ino != above_.back().inode) {
      close(fd);
      return kMoved;
    }
    here_ = above_.back();
    above_.pop_back();
    path_.erase(std::max<std::size_t>(path_.rfind('/'), 1));
    close(folder_);
    folder_ = fd;
    return 0;
  }

 private:
  struct Folder {
    dev_t device;
    ino_t inode;
    uid_t owner;
  };
  int folder_ = -1;
  std::string path_;
  Folder here_{};
  std::vector<Folder> above_;
};

// Why the link `status`, named `shown`, standing in the folder where `walk` stands, may not be
// followed; empty when it may. Another user who owns the folder could give a link of root's a
// name there (a second one: where the kernel's protected_hardlinks is off), and with it lead
// root's run anywhere that link leads.
std::string untrustedLink(const struct stat& status, const Walk& walk, const std::string& shown) {
  if (!trusted(status.st_uid)) return shown + " belongs to " + userName(status.st_uid);
  if (!trusted(walk.owner()))
    return shown + " stands in a folder that belongs to " + userName(walk.owner());
  if (status.st_nlink > 1) return shown + " is a link with a second name";
  return "";
}

}  // namespace

bool resolveOutput(const std::string& path, OutputPlace* place, std::string* reason) {
  if (path.empty()) return refuse(reason, std::strerror(ENOENT));
  std::string full = path;
  if (path[0] != '/') {
    std::vector<char> working(PATH_MAX);
    while (getcwd(working.data(), working.size()) == nullptr) {
      if (errno != ERANGE) return refuse(reason, std::strerror(errno));
      working.resize(working.size() * 2);
    }
    full = std::string(working.data()) + "/" + path;
  }
  std::vector<std::string> pending = namesOf(full);
  std::reverse(pending.begin(), pending.end());  // the next name last

  Walk walk;
  if (const int error = walk.toRoot()) return refuse(reason, std::strerror(error));
  int links = 0;
  bool lastFromLink = false;  // the final name was a link's
  std::string name;
  while (!pending.empty()) {
    name = pending.back();
    pending.pop_back();
    if (name == "." || name == "..") {
      if (const int error = name == ".." ? walk.up() : 0) {
        return refuse(reason, error == Walk::kMoved
                                  ? shellQuoted(walk.path()) + " moved while it was walked"
                                  : std::strerror(error));
      }
      name.clear();
      continue;
    }
    const bool last = pending.empty();
    const int fd = openat(walk.folder(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
      const int error = errno;
      if (fd >= 0) close(fd);
      if (error != ENOENT || !last) return refuse(reason, std::strerror(error));
      if (lastFromLink) return refuse(reason, kNotRegular);  // a dangling link
      break;
    }
    if (S_ISLNK(status.st_mode)) {
      if (std::string why = untrustedLink(status, walk, shellQuoted(walk.pathOf(name)));
          !why.empty()) {
        close(fd);
        return refuse(reason, std::move(why));
      }
      char target[PATH_MAX];
      const ssize_t length = readlinkat(fd, "", target, sizeof target);
      const int error = errno;
      close(fd);
      if (length < 0) return refuse(reason, std::strerror(error));
      if (++links > kMaxLinks || static_cast<std::size_t>(length) == sizeof target)
        return refuse(reason, std::strerror(links > kMaxLinks ? ELOOP : ENAMETOOLONG));
      const std::string text(target, static_cast<std::size_t>(length));
      if (text.empty()) return refuse(reason, std::strerror(ENOENT));
      if (text[0] == '/') {
        if (const int error = walk.toRoot()) return refuse(reason, std::strerror(error));
      }
      const std::vector<std::string> names = namesOf(text);
      pending.insert(pending.end(), names.rbegin(), names.rend());
      lastFromLink = lastFromLink || last;
      name.clear();
      continue;
    }
    if (last && !S_ISDIR(status.st_mode)) {
      close(fd);
      if (!S_ISREG(status.st_mode)) return refuse(reason, kNotRegular);
      break;
    }
    if (!S_ISDIR(status.st_mode)) {
      close(fd);
      return refuse(reason, std::strerror(ENOTDIR));
    }
    walk.enter(fd, name, status);
    name.clear();
  }
  if (name.empty()) return refuse(reason, kNotRegular);  // it named a folder
  place->folder = openat(walk.folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (place->folder < 0) return refuse(reason, std::strerror(errno));
  place->name = name;
  return true;
}
