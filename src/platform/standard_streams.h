// The program's standard streams, as the platform hands them over.
#ifndef KORVALEN_PLATFORM_STANDARD_STREAMS_H
#define KORVALEN_PLATFORM_STANDARD_STREAMS_H

// Prepares the standard streams so that a failed write only fails and can be told: on POSIX a
// reader that closed its pipe would otherwise kill the process with SIGPIPE. Does nothing where
// writes cannot kill.
void prepareStandardStreams();

#endif  // KORVALEN_PLATFORM_STANDARD_STREAMS_H
