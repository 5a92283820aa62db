// What korvalen-mqtt needs of the operating system beyond the library: the host's name, the
// process's id, the password file read safely, a bound on memory, and a deadline for what the
// library does not bound. One implementation per platform.
#ifndef KORVALEN_MQTT_MQTT_PLATFORM_H
#define KORVALEN_MQTT_MQTT_PLATFORM_H

#include <cstddef>
#include <string>

// The host's name, as the system gives it; empty when it gives none.
std::string hostName();

// This process's id.
unsigned long processId();

// Reads the password file at `path`, at most `most` bytes and one more, into `*text`. On POSIX
// the path is walked as korvalen-prometheus walks its output's (a link or a folder on the way
// that another user controls is refused), the file is opened once, and through that descriptor
// it must be a regular file with one name, in a folder and of an owner that are root's or the
// caller's, that neither the group nor others may use, before a byte is read. On Windows the
// user's profile keeps it, and a regular file is all that is asked. Returns "" or what is wrong.
std::string readPasswordFile(const std::string& path, std::size_t most, std::string* text);

// Bounds the memory that the process may take to `bytes`, whatever a broker sends: beyond it an
// allocation fails, which the run tells. Not under a sanitizer, whose shadow memory is beyond any
// such bound.
void limitMemory(std::size_t bytes);

// Ends the process with `status`, after writing `line` to standard error, if it is still running
// `seconds` from now; a later call replaces an earlier one, and 0 seconds cancels it. For the
// calls that the library does not bound: resolving the broker's name and connecting, which a
// resolver or a network may draw out for minutes.
void setDeadline(int seconds, const std::string& line, int status);

#endif  // KORVALEN_MQTT_MQTT_PLATFORM_H
