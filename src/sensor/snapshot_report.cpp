#include "sensor/snapshot_report.h"

namespace {

// The conversions of a reading in the report, after the space that goes before it. The text of
// a reading is the same conversion without the space, so both always say the same.
constexpr char kScaledConversion[] = " %.2f";
constexpr char kWholeConversion[] = " %i";

double scaled(std::int32_t entry) { return static_cast<double>(entry) / kReadingScale; }

// Writes the line of `kind`: its label and the first min(count, kMaxReadings) entries, or
// nothing when the count is zero.
void writeReadingLine(std::FILE* out, const SensorBlock& block, const ReadingKindInfo& kind) {
  const std::uint16_t count = block.count(kind);
  if (count == 0) return;
  std::fputs(kind.label, out);
  const unsigned used = usableReadings(count);
  for (unsigned index = 0; index < used; ++index) {
    const std::int32_t entry = block.entry(kind, index);
    if (kind.scaled)
      std::fprintf(out, kScaledConversion, scaled(entry));
    else
      std::fprintf(out, kWholeConversion, static_cast<int>(entry));
  }
}

}  // namespace

void writeSnapshotReport(const SensorBlock& block, std::FILE* out) {
  std::fprintf(out, "Version: %u", static_cast<unsigned>(block.version()));
  std::fprintf(out, "\nFlags: %u", static_cast<unsigned>(block.flags()));
  for (const ReadingKindInfo& kind : kReadingKinds) writeReadingLine(out, block, kind);
  std::fputc('\n', out);
}

ReadingText readingText(const ReadingKindInfo& kind, std::int32_t entry) {
  ReadingText text;
  if (kind.scaled)
    std::snprintf(text.text, sizeof text.text, kScaledConversion + 1, scaled(entry));
  else
    std::snprintf(text.text, sizeof text.text, kWholeConversion + 1, static_cast<int>(entry));
  return text;
}
