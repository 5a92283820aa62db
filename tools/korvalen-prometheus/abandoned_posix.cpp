// Temporaries that killed runs left: a writer holds an flock on its temporary until it ends, so
// one that nobody holds is abandoned.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "textfile_posix.h"

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
