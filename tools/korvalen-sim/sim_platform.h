// What korvalen-sim needs from the operating system: publishing a named block, running a command
// while it is there, and waiting to be stopped. One implementation per platform.
#ifndef KORVALEN_SIM_SIM_PLATFORM_H
#define KORVALEN_SIM_SIM_PLATFORM_H

#include <cstddef>
#include <cstdint>

struct PublishedBlock {
  std::intptr_t handle;
  std::intptr_t backingFile;     // Windows: the file behind a block shorter than the record
  volatile std::uint8_t* bytes;  // writable view of the whole block, or null
  std::size_t size;
};

enum class PublishResult { published, alreadyExists, failed };

// Creates the block `name` holding exactly `size` bytes copied from `bytes`. Never touches a
// block that already exists, unless `replaceStale` asks to remove it first where the platform
// can leave stale blocks behind. On failure prints one line on stderr and returns why.
PublishResult publishBlock(const char* name, const std::uint8_t* bytes, std::size_t size,
                           bool replaceStale, PublishedBlock* block);

// Removes the block so that no reader can open it any more.
void withdrawBlock(const char* name, PublishedBlock* block);

// Makes SIGINT, SIGTERM and the like stop the simulator cleanly instead of killing it, so that
// the block is always withdrawn. Call before publishing.
void installStopHandlers();

// Runs `argv` (a null-terminated list, found on the PATH) with our standard streams and waits for
// it. Returns its exit status (128 + signal number when a signal ended it), or 127 after a
// message on stderr when it could not be started. A stop request is passed on to the command.
int runCommand(char* const* argv);

// Waits until SIGINT, SIGTERM or end of standard input.
void holdUntilStopped();

#endif  // KORVALEN_SIM_SIM_PLATFORM_H
