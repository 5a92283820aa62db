// The snapshot report: the text written for one SensorBlock, and the text of each reading in it.
#ifndef KORVALEN_SENSOR_SNAPSHOT_REPORT_H
#define KORVALEN_SENSOR_SNAPSHOT_REPORT_H

#include <cstdint>
#include <cstdio>

#include "sensor_block.h"

// Writes the report for `block` to `out` (the program passes stdout) in one pass: the version
// and flags lines, then a line for each kind of reading whose count is not zero, in the order
// temperatures, fans, voltages, and one final line feed. Each count is read once, before its
// label is decided on, and each entry just before it is written, so a block rewritten meanwhile
// still yields well-formed lines. Output errors are left in the stream's error state, for the
// caller to examine once the report has been flushed.
void writeSnapshotReport(const SensorBlock& block, std::FILE* out);

// One reading's text as the report writes it, zero-terminated. The longest are "-21474836.48"
// and "-2147483648".
struct ReadingText {
  char text[16];
};

// The text of an entry of `kind`: for hundredths "%.2f" of the entry over kReadingScale, in the
// POSIX locale ("45.50", "-0.05", "12.00"); for whole numbers "%i" ("-1", "980").
ReadingText readingText(const ReadingKindInfo& kind, std::int32_t entry);

#endif  // KORVALEN_SENSOR_SNAPSHOT_REPORT_H
