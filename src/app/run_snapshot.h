#ifndef KORVALEN_APP_RUN_SNAPSHOT_H
#define KORVALEN_APP_RUN_SNAPSHOT_H

inline constexpr int kStatusReported = 0;
inline constexpr int kStatusOpenFailed = 1;
inline constexpr int kStatusMapFailed = 2;

// Takes one snapshot: opens the monitor's block, maps it read-only, writes the report to stdout
// and closes the handle. Returns the exit status: kStatusReported, or kStatusOpenFailed or
// kStatusMapFailed after one message on stderr. Output errors do not change the status.
int runSnapshot();

#endif  // KORVALEN_APP_RUN_SNAPSHOT_H
