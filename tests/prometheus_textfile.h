// What korvalen-prometheus writes, spelled out for the tests from the block it reads: every
// metric's name and help text is written here, as operators and their dashboards know them, and
// nowhere else in the tests.
#ifndef KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
#define KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include "support/block_bytes.h"

inline const std::map<std::string, std::string> kHelpTexts{
    {"korvalen_up", "1 when the Korvalen block was read, else 0."},
    {"korvalen_snapshot_status",
     "0 read, 1 not opened, 2 not mapped, as korvalen-snapshot's status."},
    {"korvalen_down_reason",
     "Why the block was not read: 1, with reason missing (no block), not_ours (a block there but "
     "not ours to read) or not_mapped."},
    {"korvalen_sensors_file_ok",
     "1 when the sensors file was read, 0 when it was refused: then no reading is written."},
    {"korvalen_textfile_written_seconds", "When this file was written, in seconds since 1970."},
    {"korvalen_block_version", "The block's version field."},
    {"korvalen_block_flags", "The block's flag word."},
    {"korvalen_temp_celsius", "Temperature, degrees Celsius."},
    {"korvalen_temp_max_celsius",
     "Temperature above which the sensor runs hot, degrees Celsius (sensors file)."},
    {"korvalen_temp_crit_celsius",
     "Temperature at which the sensor is critical, degrees Celsius (sensors file)."},
    {"korvalen_fan_rpm", "Fan speed, revolutions per minute."},
    {"korvalen_fan_min_rpm",
     "Fan speed below which the fan is slow, revolutions per minute (sensors file)."},
    {"korvalen_in_volts", "Voltage, volts."},
    {"korvalen_in_min_volts", "Lowest good voltage, volts (sensors file)."},
    {"korvalen_in_max_volts", "Highest good voltage, volts (sensors file)."}};

// The gauge `name` with a series for each of `labelsAndValues` ("{sensor=\"0\"} 45.50", or " 1"
// for one with no labels).
inline std::string series(const std::string& name,
                          std::initializer_list<std::string> labelsAndValues) {
  std::string text = "# HELP " + name + " " + kHelpTexts.at(name) + "\n# TYPE " + name + " gauge\n";
  for (const std::string& line : labelsAndValues) text += name + line + "\n";
  return text;
}

// The file's head: korvalen_up, korvalen-snapshot's status (0, 1 for no block, or 2), why the
// block was not read, korvalen_sensors_file_ok when `sensorsOk` is given, and the time written,
// as normalizedTextfile shows a time of this run.
inline std::string head(int status, const char* sensorsOk = nullptr) {
  std::string text = series("korvalen_up", {status == 0 ? " 1" : " 0"}) +
                     series("korvalen_snapshot_status", {" " + std::to_string(status)});
  if (status != 0)
    text += series("korvalen_down_reason",
                   {status == 1 ? "{reason=\"missing\"} 1" : "{reason=\"not_mapped\"} 1"});
  if (sensorsOk != nullptr)
    text += series("korvalen_sensors_file_ok", {std::string(" ") + sensorsOk});
  return text + series("korvalen_textfile_written_seconds", {" {time}"});
}

// The file when a block of `version` and `flags` was read, up to its readings.
inline std::string readHead(unsigned version, unsigned flags, const char* sensorsOk = nullptr) {
  return head(0, sensorsOk) + series("korvalen_block_version", {" " + std::to_string(version)}) +
         series("korvalen_block_flags", {" " + std::to_string(flags)});
}

// `text` with the time of its korvalen_textfile_written_seconds as "{time}", where that time lies
// between `since` and now: a file written by a run of this test.
inline std::string normalizedTextfile(std::string text, std::time_t since) {
  const std::string line = "\nkorvalen_textfile_written_seconds ";
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
  const std::pair<const char*, const ReadingsDescription*> kinds[] = {
      {"korvalen_temp_celsius", &block.temperatures},
      {"korvalen_fan_rpm", &block.fans},
      {"korvalen_in_volts", &block.voltages}};
  for (const auto& [metric, readings] : kinds) {
    if (readings->count != 0) text += series(metric, {});
    for (unsigned i = 0; i < std::min(readings->count, std::uint16_t{32}); ++i) {
      const std::int32_t entry = readings->entries.at(i);
      text += std::string(metric) + "{sensor=\"" + std::to_string(i) + "\"} " +
              (readings == &block.fans ? std::to_string(entry) : formatHundredths(entry)) + "\n";
    }
  }
  return text;
}

#endif  // KORVALEN_TESTS_PROMETHEUS_TEXTFILE_H
