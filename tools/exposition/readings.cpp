#include "readings.h"

#include <cstdio>

#include "snapshot_report.h"

std::string Reading::label() const {
  if (!settings->name.empty()) return settings->name;
  return std::string(kind->title) + " " + std::to_string(position);
}

std::vector<std::pair<const LimitExposition*, std::string>> Reading::limits() const {
  std::vector<std::pair<const LimitExposition*, std::string>> set;
  for (const LimitExposition& limit : kind->limits) {
    if (const std::optional<std::int32_t>& value = settings->limit(limit.limit))
      set.emplace_back(&limit, readingText(readingKind(kind->kind), *value).text);
  }
  return set;
}

std::vector<Reading> readingsOf(const SensorBlock& block, const SensorsFile& sensors) {
  std::vector<Reading> shown;
  for (const KindExposition& kind : kExposition) {
    const ReadingKindInfo& info = readingKind(kind.kind);
    const unsigned used = usableReadings(block.count(info));
    for (unsigned position = 0; position < used; ++position) {
      const SensorSettings& settings = sensors.of(kind.kind, position);
      if (settings.ignore) continue;
      const std::int32_t entry = block.entry(info, position);
      Reading reading{&kind, position, &settings, readingText(info, entry).text};
      for (const LimitExposition& limit : kind.limits) {
        if (const std::optional<std::int32_t>& value = settings.limit(limit.limit))
          reading.alarm = reading.alarm || breaks(limit.breach, entry, *value);
      }
      shown.push_back(reading);
    }
  }
  return shown;
}

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
