// What korvalen-prometheus writes, spelled out for the tests from the block it reads. Metric
// names and help texts come from the exposition's table; only the Exposition test spells them.
#ifndef KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
#define KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H

#include <algorithm>
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

// The file's head: korvalen_up and korvalen-snapshot's status (0, 1 or 2).
inline std::string head(int status) {
  return gaugeLines(kUpGauge, status == 0 ? "1" : "0") +
         gaugeLines(kSnapshotStatusGauge, std::to_string(status));
}

// The file when the block was not read, with korvalen-snapshot's status (1 or 2) for it.
inline std::string down(const char* status) { return head(std::stoi(status)); }

// The file when a block of `version` and `flags` was read, up to its readings.
inline std::string readHead(unsigned version, unsigned flags) {
  return head(0) + gaugeLines(kBlockVersionGauge, std::to_string(version)) +
         gaugeLines(kBlockFlagsGauge, std::to_string(flags));
}

// The file when `block` was read: its header, then each kind's readings counted, by position.
inline std::string readTextfile(const BlockDescription& block) {
  std::string text = readHead(block.version, block.flags);
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
