// POSIX shared memory stands in for Windows named file mappings: the block called NAME is the
// shared-memory object "/NAME" (/dev/shm/NAME on Linux).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/named_block.h"

namespace {

constexpr std::size_t kMaxObjectName = 255;

}  // namespace

bool openNamedBlock(const char* name, NamedBlockHandle* handle) {
  char objectName[kMaxObjectName + 1];
  const std::size_t length = std::strlen(name);
  if (length + 1 > kMaxObjectName) return false;
  objectName[0] = '/';
  std::memcpy(objectName + 1, name, length + 1);

  // O_NONBLOCK: anyone may create entries in /dev/shm, and opening a FIFO planted under the
  // block's name would otherwise wait forever for a writer. It changes nothing for a real object.
  const int fd = shm_open(objectName, O_RDONLY | O_NONBLOCK, 0);
  if (fd < 0) return false;
  handle->value = fd;
  return true;
}

const volatile std::uint8_t* mapNamedBlock(NamedBlockHandle handle, std::size_t size) {
  const int fd = static_cast<int>(handle.value);
  // mmap succeeds past the end of a small object and the first read there dies of SIGBUS, so
  // the size is checked first. Anything but a regular object (a FIFO, a directory) fails too.
  struct stat status;
  if (fstat(fd, &status) != 0) return nullptr;
  if (!S_ISREG(status.st_mode)) return nullptr;
  if (status.st_size < 0 || static_cast<unsigned long long>(status.st_size) < size) return nullptr;

  void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return nullptr;
  return static_cast<const volatile std::uint8_t*>(view);
}

void closeNamedBlock(NamedBlockHandle handle) { close(static_cast<int>(handle.value)); }

void prepareStandardStreams() { signal(SIGPIPE, SIG_IGN); }
