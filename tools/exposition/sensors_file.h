// The operator's sensors file: a name, ignore, and limits for each position of each kind of
// reading, in TOML.
//
//   [temperature.0]
//   name = "CPU Package"
//   max = 85
//   crit = 95
//
// Tables temperature, fan and voltage; their keys are positions, 0 to 31, as in the block. A
// position may have `name`, `ignore` and its kind's limits: max and crit for a temperature, min
// for a fan, min and max for a voltage.
#ifndef KORVALEN_EXPOSITION_SENSORS_FILE_H
#define KORVALEN_EXPOSITION_SENSORS_FILE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "exit_status.h"
#include "exposition.h"

// What the file says of one position.
struct SensorSettings {
  bool mentioned = false;
  std::string name;  // empty when it has none
  bool ignore = false;
  std::optional<std::int32_t> limits[kLimitCount];  // entries as the block holds them

  const std::optional<std::int32_t>& limit(Limit which) const {
    return limits[static_cast<int>(which)];
  }
};

// What the file says of every position of every kind; an empty file says nothing.
struct SensorsFile {
  SensorSettings positions[3][kMaxReadings];

  const SensorSettings& of(ReadingKind kind, unsigned position) const {
    return positions[static_cast<int>(kind)][position];
  }
};

// Reads the sensors file at `path`. Returns true with `*file` filled; or false with `*problem`
// set to one line with no control character, "FILE:LINE:COLUMN: what" (FILE alone where no
// place in it is to blame; FILE and any key quoted where they hold what could break the line),
// when the file is not a regular file (refused without waiting on a FIFO) or cannot be read, is
// larger than 1 MiB, is UTF-16, holds a NUL byte, is not UTF-8 or not TOML (a string not closed,
// a value that is not one, a table or key defined twice), nests deeper than a table, a position
// and a key, holds a date or time, or holds anything but the tables, positions, keys and values
// above: a position written otherwise than 0 to 31 (01), a name empty, longer than 64
// characters, or with a control character or one that hides or reorders the text around it
// (U+202E, U+200B), a limit that a reading's text cannot hold exactly (85.125, 5000.005; a
// fan's 300.5, judged from the text as written) or far beyond any reading (1e300), min above max
// or max above crit.
bool readSensorsFile(const std::string& path, SensorsFile* file, std::string* problem);

// The same for a file's text already read, named `name` in the message.
bool parseSensorsText(std::string_view text, const std::string& name, SensorsFile* file,
                      std::string* problem);

// One line for each position that `file` mentions, by kind and position:
// `temperature 0 "CPU Package" max 85.00 crit 95.00`, `voltage 7 ignored`; for a file that
// mentions none, "no positions: every reading by its position alone".
std::string describeSensors(const SensorsFile& file);

// `text` escaped as a label value of Prometheus' text format, and as --check shows a name:
// a backslash and a double quote each after a backslash.
std::string escapedLabelValue(const std::string& text);

#endif  // KORVALEN_EXPOSITION_SENSORS_FILE_H
