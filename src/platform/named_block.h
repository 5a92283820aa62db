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
};

// Opens the existing block called `name` for reading; never creates one. Returns true and sets
// `*handle` on success; returns false when no such block exists or access is refused.
bool openNamedBlock(const char* name, NamedBlockHandle* handle);

// Maps the first `size` bytes of the opened block read-only. Returns the address of the view, or
// null when the block cannot be mapped, including when it is smaller than `size` bytes. The view
// stays until the process ends.
const volatile std::uint8_t* mapNamedBlock(NamedBlockHandle handle, std::size_t size);

// Closes the handle; an error is ignored. A view mapped from it stays valid.
void closeNamedBlock(NamedBlockHandle handle);

// Prepares the standard streams so that a failed write only fails: on POSIX a reader that closed
// its pipe would otherwise kill the process with SIGPIPE. Does nothing where writes cannot kill.
void prepareStandardStreams();

#endif  // KORVALEN_PLATFORM_NAMED_BLOCK_H
