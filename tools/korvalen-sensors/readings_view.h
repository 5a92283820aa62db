// What korvalen-sensors prints of a block: a view for people, one line per reading, as
// lm-sensors' `sensors` shows its inputs, and one JSON document for scripts. Both show the
// readings by position, named, left out and bounded as the sensors file says.
#ifndef KORVALEN_SENSORS_READINGS_VIEW_H
#define KORVALEN_SENSORS_READINGS_VIEW_H

#include <string>

#include "sensor_block.h"
#include "sensors_file.h"

// The view: "Korvalen block: version V, flags F", then a line for each reading used that the
// file does not ignore, in the block's order: its name (or kind and position), the report's
// text of its value and the kind's unit, its limits, and ALARM where it breaks one; then each
// position that the file names and the block's count does not reach. Lines end in LF.
std::string viewOf(const SensorBlock& block, const SensorsFile& sensors);

// The JSON document, on one line and ended by a line feed: version, flags, then the arrays
// temperatures, fans and voltages, each of objects with sensor, name (where named), value, the
// limits set, and alarm (where a limit is set); numbers as the report writes them.
std::string jsonOf(const SensorBlock& block, const SensorsFile& sensors);

#endif  // KORVALEN_SENSORS_READINGS_VIEW_H
