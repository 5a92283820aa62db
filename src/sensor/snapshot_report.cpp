#include "sensor/snapshot_report.h"

namespace {

// The conversions of a reading in the report, after the space that goes before it. The text of
// a reading is the same conversion without the space, so both always say the same.
constexpr char kScaledConversion[] = " %.2f";
constexpr char kWholeConversion[] = " %i";

using EntryReader = std::int32_t (SensorBlock::*)(unsigned) const;

double scaled(std::int32_t entry) { return static_cast<double>(entry) / kReadingScale; }

// Writes `label` and the first min(count, kMaxReadings) entries divided by kReadingScale, or
// nothing when the count is zero.
void writeScaledLine(std::FILE* out, const char* label, std::uint16_t count,
                     const SensorBlock& block, EntryReader entry) {
  if (count == 0) return;
  std::fputs(label, out);
  const unsigned used = usableReadings(count);
  for (unsigned index = 0; index < used; ++index) {
    std::fprintf(out, kScaledConversion, scaled((block.*entry)(index)));
  }
}

}  // namespace

void writeSnapshotReport(const SensorBlock& block, std::FILE* out) {
  std::fprintf(out, "Version: %u", static_cast<unsigned>(block.version()));
  std::fprintf(out, "\nFlags: %u", static_cast<unsigned>(block.flags()));

  writeScaledLine(out, "\nTemperatures:", block.temperatureCount(), block,
                  &SensorBlock::temperature);

  const std::uint16_t fanCount = block.fanCount();
  if (fanCount != 0) {
    std::fputs("\nFans:", out);
    const unsigned used = usableReadings(fanCount);
    for (unsigned index = 0; index < used; ++index) {
      std::fprintf(out, kWholeConversion, static_cast<int>(block.fan(index)));
    }
  }

  writeScaledLine(out, "\nVoltages:", block.voltageCount(), block, &SensorBlock::voltage);

  std::fputc('\n', out);
}

ReadingText scaledReadingText(std::int32_t entry) {
  ReadingText text;
  std::snprintf(text.text, sizeof text.text, kScaledConversion + 1, scaled(entry));
  return text;
}

ReadingText wholeReadingText(std::int32_t entry) {
  ReadingText text;
  std::snprintf(text.text, sizeof text.text, kWholeConversion + 1, static_cast<int>(entry));
  return text;
}
