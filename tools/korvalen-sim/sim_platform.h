// What korvalen-sim needs from the operating system: publishing a named block, running a command
// while it is there, and waiting to be stopped. One implementation per platform.
#ifndef KORVALEN_SIM_SIM_PLATFORM_H
#define KORVALEN_SIM_SIM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exit_status.h"

struct PublishedBlock {
  std::intptr_t handle;
  std::intptr_t backingFile;     // Windows: the file behind a block shorter than the record
  volatile std::uint8_t* bytes;  // writable view of the whole block, or null
  std::size_t size;
  std::uint64_t device, inode;  // POSIX: the object's identity, to withdraw only our own
};

// What the help and the holding message say where the platform differs.
struct PlatformHelp {
  const char* lifetime;       // "Lifetime:" and its lines, for the help's footer
  const char* holdStops;      // what ends holding, for the holding message
  const char* replace;        // --replace's description
  const char* refuseReaders;  // --refuse-readers's description
};
extern const PlatformHelp kPlatformHelp;

struct PublishOptions {
  bool replaceStale = false;   // remove a block left under the name first, where one can remain
  bool refuseReaders = false;  // deny everyone else the right to open the block
};

// Creates the block `name` holding exactly `size` bytes copied from `bytes`. Never touches a
// block that already exists, unless `options.replaceStale` asks to remove it first where the
// platform can leave stale blocks behind. Returns true on success; otherwise prints one line on
// stderr, leaves nothing behind and returns false.
bool publishBlock(const char* name, const std::uint8_t* bytes, std::size_t size,
                  const PublishOptions& options, PublishedBlock* block);

// Makes the block unreachable by name, if the name still refers to it, and releases it.
void withdrawBlock(const char* name, PublishedBlock* block);

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT (on Windows, a console's Ctrl-C and Ctrl-Break) stop
// the simulator cleanly instead of killing it, so that the block is always withdrawn. A stop
// that arrives before the simulator waits is kept for the wait, never lost. Call just before
// publishing: until then a stop ends the simulator at once, with nothing to withdraw.
void installStopHandlers();

// Runs `argv` (found on the PATH) with our standard streams and waits for it. Returns its exit
// status (on POSIX 128 + signal number when a signal ended it), or, after a message on stderr,
// kNotFoundStatus when there is no such program and kCannotExecuteStatus when there is one that
// cannot be run (a folder, a file that is no program). A stop is passed on to the command, which
// decides when to end. On Windows the command, and whatever it starts, ends with the simulator
// however the simulator ends.
int runCommand(const std::vector<std::string>& argv);

// Waits until a stop or the end of standard input.
void holdUntilStopped();

#endif  // KORVALEN_SIM_SIM_PLATFORM_H
