// What korvalen-prometheus writes when the block is not read, spelled out for the tests.
#ifndef KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
#define KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H

#include <string>

inline const std::string kUp = R"(# HELP korvalen_up 1 when the Korvalen block was read, else 0.
# TYPE korvalen_up gauge
korvalen_up )";
inline const std::string kStatus = R"(
# HELP korvalen_snapshot_status 0 read, 1 not opened, 2 not mapped, as korvalen-snapshot's status.
# TYPE korvalen_snapshot_status gauge
korvalen_snapshot_status )";

// The file when the block was not read, with korvalen-snapshot's status (1 or 2) for it.
inline std::string down(const char* status) { return kUp + "0" + kStatus + status + "\n"; }

#endif  // KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
