// What korvalen-mqtt needs of the operating system beyond the library: the host's name, the
// process's id, whether a password file is kept private, and a deadline for what the library
// does not bound. One implementation per platform.
#ifndef KORVALEN_MQTT_MQTT_PLATFORM_H
#define KORVALEN_MQTT_MQTT_PLATFORM_H

#include <string>

// The host's name, as the system gives it; empty when it gives none.
std::string hostName();

// This process's id.
unsigned long processId();

// Why the password file at `path` may not be used, or empty: on POSIX one that the group or
// others may read is refused; on Windows the user's profile keeps it.
std::string passwordFileProblem(const std::string& path);

// Ends the process with `status`, after writing `line` to standard error, if it is still running
// `seconds` from now; 0 seconds cancels what an earlier call set. For the one step that the
// library does not bound: resolving the broker's name, which a resolver may draw out for minutes.
void setDeadline(int seconds, const std::string& line, int status);

#endif  // KORVALEN_MQTT_MQTT_PLATFORM_H
