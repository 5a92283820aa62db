#include "readings_view.h"

#include <algorithm>
#include <vector>

#include "readings.h"
#include "unicode_text.h"

std::string viewOf(const SensorBlock& block, const SensorsFile& sensors) {
  std::string text = "Korvalen block: version " + std::to_string(block.version()) + ", flags " +
                     std::to_string(block.flags()) + "\n";
  const std::vector<Reading> shown = readingsOf(block, sensors);
  std::size_t labelWidth = 16, valueWidth = 6;
  for (const Reading& reading : shown) {
    labelWidth = std::max(labelWidth, columnsOf(reading.label()) + 2);
    valueWidth = std::max(valueWidth, reading.value.size() + 1);
  }
  for (const Reading& reading : shown) {
    const std::string label = reading.label() + ":";
    text += label + std::string(labelWidth - columnsOf(label), ' ');
    text += std::string(valueWidth - reading.value.size(), ' ') + reading.value + " " +
            reading.kind->unit;
    std::string limits;
    for (const auto& [limit, value] : reading.limits())
      limits += std::string(limits.empty() ? "" : ", ") + limit->key + " = " + value + " " +
                reading.kind->unit;
    if (!limits.empty()) text += "  (" + limits + ")";
    if (reading.alarm) text += "  ALARM";
    text += "\n";
  }
  for (const KindExposition& kind : kExposition) {
    const unsigned used = usableReadings(block.count(readingKind(kind.kind)));
    for (unsigned position = used; position < kMaxReadings; ++position) {
      const SensorSettings& settings = sensors.of(kind.kind, position);
      if (settings.name.empty()) continue;
      text += std::string("named but not in the block: ") + kind.table + " " +
              std::to_string(position) + " \"" + escapedLabelValue(settings.name) + "\"\n";
    }
  }
  return text;
}

std::string jsonOf(const SensorBlock& block, const SensorsFile& sensors) {
  std::string text = "{\"version\": " + std::to_string(block.version()) +
                     ", \"flags\": " + std::to_string(block.flags());
  const std::vector<Reading> shown = readingsOf(block, sensors);
  for (const KindExposition& kind : kExposition) {
    text += std::string(", \"") + kind.table + "s\": [";
    bool first = true;
    for (const Reading& reading : shown) {
      if (reading.kind != &kind) continue;
      text += std::string(first ? "" : ", ") + "{\"sensor\": " + std::to_string(reading.position);
      first = false;
      if (!reading.settings->name.empty())
        text += ", \"name\": " + jsonString(reading.settings->name);
      text += ", \"value\": " + reading.value;
      for (const auto& [limit, value] : reading.limits())
        text += std::string(", \"") + limit->key + "\": " + value;
      if (reading.bounded())
        text += std::string(", \"alarm\": ") + (reading.alarm ? "true" : "false");
      text += "}";
    }
    text += "]";
  }
  return text + "}\n";
}
