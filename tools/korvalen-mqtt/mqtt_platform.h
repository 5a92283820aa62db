// What korvalen-mqtt needs of the operating system beyond the library: the host's name, the
// process's id, and whether a password file is kept private. One implementation per platform.
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

#endif  // KORVALEN_MQTT_MQTT_PLATFORM_H
