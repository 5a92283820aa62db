// Reading a file that must be a regular one, one implementation per platform.
#ifndef KORVALEN_EXPOSITION_REGULAR_FILE_H
#define KORVALEN_EXPOSITION_REGULAR_FILE_H

#include <cstddef>
#include <string>

// Reads the file at `path` whole into `*text`, at most `most` bytes and one more (which tells a
// file that is larger). Anything but a regular file (a FIFO, a device, a folder) is refused at
// once, without waiting on it: it is opened without blocking, and nothing is read from it.
// Returns true; or false with `*reason` set, "not a regular file" or in the system's words.
bool readRegularFile(const std::string& path, std::size_t most, std::string* text,
                     std::string* reason);

#ifndef _WIN32
// Reads what is left of the open file `fd` into `*text`, at most `most` bytes and one more.
// Returns true; or false with `*reason` set, in the system's words.
bool readDescriptor(int fd, std::size_t most, std::string* text, std::string* reason);
#endif

#endif  // KORVALEN_EXPOSITION_REGULAR_FILE_H
