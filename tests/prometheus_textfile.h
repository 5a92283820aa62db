// What korvalen-prometheus writes, spelled out for the tests from the block it reads. Metric
// names and help texts come from the exposition's table; only the Exposition test spells them.
#ifndef KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
#define KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

#include "exposition.h"
#include "support/block_bytes.h"

// A gauge's HELP and TYPE lines.
inline std::string gaugeHead(const std::string& name, const std::string& help) {
  return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

// `gauge` with the single value `value`.
inline std::string gaugeLines(const Gauge& gauge, const std::string& value) {
  return gaugeHead(gauge.name, gauge.help) + gauge.name + " " + value + "\n";
}

// The file's head: korvalen_up, korvalen-snapshot's status (0, 1 for no block, or 2), why the
// block was not read, korvalen_sensors_file_ok when `sensorsOk` is given, and the time written,
// as normalizedTextfile shows a time of this run.
inline std::string head(int status, const char* sensorsOk = nullptr) {
  std::string text = gaugeLines(kUpGauge, status == 0 ? "1" : "0") +
                     gaugeLines(kSnapshotStatusGauge, std::to_string(status));
  if (status != 0) {
    text += gaugeHead(kDownReasonGauge.name, kDownReasonGauge.help) + kDownReasonGauge.name +
            "{reason=\"" + labelOf(status == 1 ? DownReason::missing : DownReason::notMapped) +
            "\"} 1\n";
  }
  if (sensorsOk != nullptr) text += gaugeLines(kSensorsFileGauge, sensorsOk);
  return text + gaugeLines(kWrittenGauge, "{time}");
}

// The file when the block was not read, with korvalen-snapshot's status (1 or 2) for it.
inline std::string down(const char* status) { return head(std::stoi(status)); }

// The file when a block of `version` and `flags` was read, up to its readings.
inline std::string readHead(unsigned version, unsigned flags, const char* sensorsOk = nullptr) {
  return head(0, sensorsOk) + gaugeLines(kBlockVersionGauge, std::to_string(version)) +
         gaugeLines(kBlockFlagsGauge, std::to_string(flags));
}

// `text` with the time of its korvalen_textfile_written_seconds as "{time}", where that time lies
// between `since` and now: a file written by a run of this test.
inline std::string normalizedTextfile(std::string text, std::time_t since) {
  const std::string line = std::string("\n") + kWrittenGauge.name + " ";
  const std::size_t at = text.find(line);
  if (at == std::string::npos) return text;
  const std::size_t from = at + line.size(), end = text.find('\n', from);
  const long long written = std::atoll(text.substr(from, end - from).c_str());
  if (written >= since && written <= std::time(nullptr)) text.replace(from, end - from, "{time}");
  return text;
}

// The file when `block` was read: its header, then each kind's readings counted, by position.
inline std::string readTextfile(const BlockDescription& block, const char* sensorsOk = nullptr) {
  std::string text = readHead(block.version, block.flags, sensorsOk);
  for (const KindExposition& kind : kExposition) {
    const ReadingsDescription& readings = block.readings(kind.kind);
    if (readings.count != 0) text += gaugeHead(kind.metric, kind.help);
    for (unsigned i = 0; i < std::min(readings.count, std::uint16_t{32}); ++i) {
      const std::int32_t entry = readings.entries.at(i);
      text += std::string(kind.metric) + "{sensor=\"" + std::to_string(i) + "\"} " +
              (kind.kind == ReadingKind::fans ? std::to_string(entry) : formatHundredths(entry)) +
              "\n";
    }
  }
  return text;
}

#endif  // KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
