// What korvalen-prometheus writes, spelled out for the tests from the block it reads.
#ifndef KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
#define KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H

#include <algorithm>
#include <string>

#include "support/block_bytes.h"

inline const std::string kUp = R"(# HELP korvalen_up 1 when the Korvalen block was read, else 0.
# TYPE korvalen_up gauge
korvalen_up )";
inline const std::string kStatus = R"(
# HELP korvalen_snapshot_status 0 read, 1 not opened, 2 not mapped, as korvalen-snapshot's status.
# TYPE korvalen_snapshot_status gauge
korvalen_snapshot_status )";

// The file when the block was not read, with korvalen-snapshot's status (1 or 2) for it.
inline std::string down(const char* status) { return kUp + "0" + kStatus + status + "\n"; }

// A gauge's HELP and TYPE lines.
inline std::string gaugeHead(const std::string& name, const std::string& help) {
  return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

// The file when `block` was read: its header, then each kind's readings counted, by position.
inline std::string readTextfile(const BlockDescription& block) {
  std::string text = kUp + "1" + kStatus + "0\n" +
                     gaugeHead("korvalen_block_version", "The block's version field.") +
                     "korvalen_block_version " + std::to_string(block.version) + "\n" +
                     gaugeHead("korvalen_block_flags", "The block's flag word.") +
                     "korvalen_block_flags " + std::to_string(block.flags) + "\n";
  const struct {
    const ReadingsDescription& readings;
    const char *metric, *help;
  } kinds[] = {{block.temperatures, "korvalen_temp_celsius", "Temperature, degrees Celsius."},
               {block.fans, "korvalen_fan_rpm", "Fan speed, revolutions per minute."},
               {block.voltages, "korvalen_in_volts", "Voltage, volts."}};
  for (const auto& kind : kinds) {
    if (kind.readings.count != 0) text += gaugeHead(kind.metric, kind.help);
    for (unsigned i = 0; i < std::min(kind.readings.count, std::uint16_t{32}); ++i) {
      const std::int32_t entry = kind.readings.entries.at(i);
      text += std::string(kind.metric) + "{sensor=\"" + std::to_string(i) + "\"} " +
              (&kind.readings == &block.fans ? std::to_string(entry) : formatHundredths(entry)) +
              "\n";
    }
  }
  return text;
}

#endif  // KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
