#include "readings_view.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "exposition.h"
#include "snapshot_report.h"
#include "unicode_text.h"

namespace {

// One reading, as both forms show it.
struct Shown {
  const KindExposition* kind;
  unsigned position;
  const SensorSettings* settings;
  std::string value;
  bool alarm = false;
};

// The readings used that the file does not ignore, in the block's order, each entry read once
// from the copy.
std::vector<Shown> readingsOf(const SensorBlock& block, const SensorsFile& sensors) {
  std::vector<Shown> shown;
  for (const KindExposition& kind : kExposition) {
    const ReadingKindInfo& info = readingKind(kind.kind);
    const unsigned used = usableReadings(block.count(info));
    for (unsigned position = 0; position < used; ++position) {
      const SensorSettings& settings = sensors.of(kind.kind, position);
      if (settings.ignore) continue;
      const std::int32_t entry = block.entry(info, position);
      Shown reading{&kind, position, &settings, readingText(info, entry).text};
      for (const LimitExposition& limit : kind.limits) {
        if (const std::optional<std::int32_t>& value = settings.limit(limit.limit))
          reading.alarm = reading.alarm || breaks(limit.breach, entry, *value);
      }
      shown.push_back(reading);
    }
  }
  return shown;
}

std::string labelOf(const Shown& reading) {
  if (!reading.settings->name.empty()) return reading.settings->name;
  return std::string(reading.kind->title) + " " + std::to_string(reading.position);
}

// `text` as a JSON string: a quote, a backslash and each control character escaped.
std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string viewOf(const SensorBlock& block, const SensorsFile& sensors) {
  std::string text = "Korvalen block: version " + std::to_string(block.version()) + ", flags " +
                     std::to_string(block.flags()) + "\n";
  const std::vector<Shown> shown = readingsOf(block, sensors);
  std::size_t labelWidth = 16, valueWidth = 6;
  for (const Shown& reading : shown) {
    labelWidth = std::max(labelWidth, columnsOf(labelOf(reading)) + 2);
    valueWidth = std::max(valueWidth, reading.value.size() + 1);
  }
  for (const Shown& reading : shown) {
    const std::string label = labelOf(reading) + ":";
    text += label + std::string(labelWidth - columnsOf(label), ' ');
    text += std::string(valueWidth - reading.value.size(), ' ') + reading.value + " " +
            reading.kind->unit;
    std::string limits;
    for (const LimitExposition& limit : reading.kind->limits) {
      if (const std::optional<std::int32_t>& value = reading.settings->limit(limit.limit)) {
        limits += std::string(limits.empty() ? "" : ", ") + limit.key + " = " +
                  readingText(readingKind(reading.kind->kind), *value).text + " " +
                  reading.kind->unit;
      }
    }
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
  const std::vector<Shown> shown = readingsOf(block, sensors);
  for (const KindExposition& kind : kExposition) {
    text += std::string(", \"") + kind.table + "s\": [";
    bool first = true;
    for (const Shown& reading : shown) {
      if (reading.kind != &kind) continue;
      text += std::string(first ? "" : ", ") + "{\"sensor\": " + std::to_string(reading.position);
      first = false;
      if (!reading.settings->name.empty())
        text += ", \"name\": " + jsonString(reading.settings->name);
      text += ", \"value\": " + reading.value;
      bool bounded = false;
      for (const LimitExposition& limit : kind.limits) {
        if (const std::optional<std::int32_t>& value = reading.settings->limit(limit.limit)) {
          text += std::string(", \"") + limit.key +
                  "\": " + readingText(readingKind(kind.kind), *value).text;
          bounded = true;
        }
      }
      if (bounded) text += std::string(", \"alarm\": ") + (reading.alarm ? "true" : "false");
      text += "}";
    }
    text += "]";
  }
  return text + "}\n";
}
