// POSIX shared memory stands in for Windows named file mappings: the block called NAME is the
// shared-memory object "/NAME" (/dev/shm/NAME on Linux).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>

#include "named_block.h"

namespace {

constexpr std::size_t kMaxObjectName = 255;

// What endOnViewFault needs, set before it can run.
volatile std::sig_atomic_t faultHandle = -1;
const char* faultMessage = "";
std::size_t faultMessageLength = 0;
int faultStatus = 0;

// The SIGBUS handler: uses only async-signal-safe calls, and never returns to the read.
void endOnViewFault(int) {
  close(faultHandle);
  const ssize_t ignored = write(STDERR_FILENO, faultMessage, faultMessageLength);
  static_cast<void>(ignored);
  _exit(faultStatus);
}

// Where copyNamedBlock resumes when its read faults.
sigjmp_buf copyFault;

void abandonCopy(int) { siglongjmp(copyFault, 1); }

}  // namespace

bool openNamedBlock(const char* name, NamedBlockHandle* handle, OpenFailure* why) {
  OpenFailure ignored;
  if (why == nullptr) why = &ignored;
  *why = OpenFailure::other;
  char objectName[kMaxObjectName + 1];
  const std::size_t length = std::strlen(name);
  if (length + 1 > kMaxObjectName) return false;
  objectName[0] = '/';
  std::memcpy(objectName + 1, name, length + 1);

  // O_NONBLOCK: anyone may create entries in /dev/shm, and opening a FIFO planted under the
  // block's name would otherwise wait forever for a writer. It changes nothing for a real object.
  const int fd = shm_open(objectName, O_RDONLY | O_NONBLOCK, 0);
  if (fd < 0) {
    *why = errno == ENOENT   ? OpenFailure::missing
           : errno == EACCES ? OpenFailure::notTrusted
                             : OpenFailure::other;
    return false;
  }

  // Any user can plant an object under the name, or take it before the monitor starts. Windows
  // looks the name up in the caller's own session, where other users cannot create objects; the
  // counterpart here is to trust only objects of the caller's own user or of root, and only
  // while no one else can write them: an object with a second name may be another's, linked
  // here by a user (a world-writable file of root's, say), and one that others may write holds
  // whatever they put there.
  struct stat status;
  if (fstat(fd, &status) != 0 || (status.st_uid != 0 && status.st_uid != geteuid()) ||
      (S_ISREG(status.st_mode) &&
       (status.st_nlink != 1 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0))) {
    close(fd);
    *why = OpenFailure::notTrusted;
    return false;
  }
  handle->value = fd;
  handle->size = S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : -1;
  return true;
}

const volatile std::uint8_t* mapNamedBlock(NamedBlockHandle handle, std::size_t size) {
  // mmap succeeds past the end of a small object and the first read there dies of SIGBUS, so
  // the size seen at open is checked first. Anything but a regular object (a FIFO, a
  // directory) fails too.
  if (handle.size < 0 || static_cast<std::uint64_t>(handle.size) < size) return nullptr;
  void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, static_cast<int>(handle.value), 0);
  if (view == MAP_FAILED) return nullptr;
  return static_cast<const volatile std::uint8_t*>(view);
}

void closeNamedBlock(NamedBlockHandle handle) { close(static_cast<int>(handle.value)); }

void endProcessOnViewFault(NamedBlockHandle handle, const char* message, int status) {
  // The object may still shrink after the size check, and a page of a full tmpfs cannot be
  // allocated when first read: either faults with SIGBUS.
  faultHandle = static_cast<std::sig_atomic_t>(handle.value);
  faultMessage = message;
  faultMessageLength = std::strlen(message);
  faultStatus = status;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = endOnViewFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

bool copyNamedBlock(const volatile std::uint8_t* view, std::size_t size, std::uint8_t* copy) {
  struct sigaction action, previous;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = abandonCopy;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previous);
  // The handler leaves the faulting load for here; the saved mask unblocks SIGBUS again. Only
  // the volatile bytes are touched between the two, so nothing is left half done.
  const bool copied = sigsetjmp(copyFault, 1) == 0;
  if (copied) {
    for (std::size_t i = 0; i < size; ++i) copy[i] = view[i];
  }
  sigaction(SIGBUS, &previous, nullptr);
  return copied;
}
