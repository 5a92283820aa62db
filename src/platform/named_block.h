// Access to a named shared-memory block published by another process: the only place where the
// program touches the operating system's shared-memory calls. One implementation per platform,
// chosen by the build.
#ifndef KORVALEN_PLATFORM_NAMED_BLOCK_H
#define KORVALEN_PLATFORM_NAMED_BLOCK_H

#include <cstddef>
#include <cstdint>

// An opened named block: a HANDLE on Windows, a file descriptor on POSIX.
struct NamedBlockHandle {
  std::intptr_t value;
  std::int64_t size;  // POSIX: the object's size when opened, or -1 if it is no regular object
};

// Why a block could not be opened.
enum class OpenFailure {
  missing,     // no block of that name
  notTrusted,  // one there, but not ours to read: access refused, or on POSIX not trusted
  other,       // any other failure of the call
};

// Opens the existing block called `name` for reading; never creates one. Returns true and sets
// `*handle` on success; returns false when no such block exists or access is refused, and then
// sets `*why` where it is given (on Windows from GetLastError, called only then). On POSIX,
// where anyone may create an object under any name, an object owned by a user other than the
// caller or root is refused too, and so is one that has a second name or that users other than
// its owner may write.
bool openNamedBlock(const char* name, NamedBlockHandle* handle, OpenFailure* why = nullptr);

// Maps the first `size` bytes of the opened block read-only. Returns the address of the view, or
// null when the block cannot be mapped, which includes a block smaller than `size` bytes where
// the system knows its size (on Windows, see there). The view stays until the process ends.
const volatile std::uint8_t* mapNamedBlock(NamedBlockHandle handle, std::size_t size);

// Closes the handle; an error is ignored. A view mapped from it stays valid.
void closeNamedBlock(NamedBlockHandle handle);

// From now on, a read of the view of `handle` that finds no memory behind it (on POSIX the
// object shrank, or its page cannot be allocated) ends the process at once: the handle is
// closed, `message` is written to stderr, and the exit status is `status`. Buffered standard
// output is dropped, never written. `message` must outlive the process.
void endProcessOnViewFault(NamedBlockHandle handle, const char* message, int status);

// Copies the first `size` bytes of `view`, mapped by mapNamedBlock, into `copy`, loading each
// byte once. Returns true, or false when memory behind the view went away meanwhile (on POSIX
// the object shrank, or its page cannot be allocated): `copy` is then incomplete, and the
// process goes on. For a reader that must tell that failure itself rather than end.
bool copyNamedBlock(const volatile std::uint8_t* view, std::size_t size, std::uint8_t* copy);

#endif  // KORVALEN_PLATFORM_NAMED_BLOCK_H
