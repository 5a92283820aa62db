// korvalen-snapshot's exit statuses: what runSnapshot returns, and what korvalen-prometheus
// reports of the block it read.
#ifndef KORVALEN_STATUS_SNAPSHOT_STATUS_H
#define KORVALEN_STATUS_SNAPSHOT_STATUS_H

inline constexpr int kStatusReported = 0;     // the whole report reached standard output
inline constexpr int kStatusOpenFailed = 1;   // the block could not be opened
inline constexpr int kStatusMapFailed = 2;    // the block could not be mapped or read
inline constexpr int kStatusWriteFailed = 3;  // the output could not be written

#endif  // KORVALEN_STATUS_SNAPSHOT_STATUS_H
