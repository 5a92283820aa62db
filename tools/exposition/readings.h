// The readings that the companions show of a block, in one model: each reading used that the
// sensors file does not ignore, with its name, the report's text for it, its limits and whether
// it breaks one. korvalen-sensors' view and JSON and korvalen-mqtt's messages all read it.
#ifndef KORVALEN_EXPOSITION_READINGS_H
#define KORVALEN_EXPOSITION_READINGS_H

#include <string>
#include <vector>

#include "exposition.h"
#include "sensor_block.h"
#include "sensors_file.h"

struct Reading {
  const KindExposition* kind;
  unsigned position;
  const SensorSettings* settings;  // what the sensors file says of it
  std::string value;               // the report's text: "45.50", "-1"
  bool alarm = false;              // above max, at or above crit, below min

  // The sensors file's name, else the kind and position: "Temperature 3".
  std::string label() const;
  // The text of each limit set, in the table's order, with its limit.
  std::vector<std::pair<const LimitExposition*, std::string>> limits() const;
  bool bounded() const { return !limits().empty(); }
};

// The readings of `block` used that `sensors` does not ignore, in the block's order, each entry
// read once from the copy.
std::vector<Reading> readingsOf(const SensorBlock& block, const SensorsFile& sensors);

// `text` as a JSON string: a quote, a backslash and each control character escaped.
std::string jsonString(const std::string& text);

#endif  // KORVALEN_EXPOSITION_READINGS_H
