// POSIX: a write to a pipe whose reader has gone raises SIGPIPE, which would end the process
// before it could tell the failure.
#include <signal.h>

#include "standard_streams.h"

void prepareStandardStreams() { signal(SIGPIPE, SIG_IGN); }
