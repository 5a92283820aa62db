// The program's main routine: one snapshot of the monitor's block, from attaching to it to the
// exit status.
#ifndef KORVALEN_APP_RUN_SNAPSHOT_H
#define KORVALEN_APP_RUN_SNAPSHOT_H

#include "exit_status.h"

// Takes one snapshot: opens the monitor's block, maps it read-only, writes the report to stdout
// and closes the handle. Returns the exit status: kStatusReported once the whole report has
// reached standard output, or, after one message on stderr, kStatusOpenFailed, kStatusMapFailed
// or kStatusWriteFailed when any of the report could not be written.
int runSnapshot();

#endif  // KORVALEN_APP_RUN_SNAPSHOT_H
