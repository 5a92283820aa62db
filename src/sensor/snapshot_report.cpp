#include "sensor/snapshot_report.h"

namespace {

using EntryReader = std::int32_t (SensorBlock::*)(unsigned) const;
using TextOf = ReadingText (*)(std::int32_t);

// Writes `label` and the text of each of the first min(count, kMaxReadings) entries after a
// space, or nothing when the count is zero.
void writeLine(std::FILE* out, const char* label, std::uint16_t count, const SensorBlock& block,
               EntryReader entry, TextOf textOf) {
  if (count == 0) return;
  std::fputs(label, out);
  const unsigned used = usableReadings(count);
  for (unsigned index = 0; index < used; ++index) {
    std::fputc(' ', out);
    std::fputs(textOf((block.*entry)(index)).text, out);
  }
}

}  // namespace

void writeSnapshotReport(const SensorBlock& block, std::FILE* out) {
  std::fprintf(out, "Version: %u", static_cast<unsigned>(block.version()));
  std::fprintf(out, "\nFlags: %u", static_cast<unsigned>(block.flags()));
  writeLine(out, "\nTemperatures:", block.temperatureCount(), block, &SensorBlock::temperature,
            scaledReadingText);
  writeLine(out, "\nFans:", block.fanCount(), block, &SensorBlock::fan, wholeReadingText);
  writeLine(out, "\nVoltages:", block.voltageCount(), block, &SensorBlock::voltage,
            scaledReadingText);
  std::fputc('\n', out);
}

ReadingText scaledReadingText(std::int32_t entry) {
  ReadingText text;
  std::snprintf(text.text, sizeof text.text, "%.2f", static_cast<double>(entry) / kReadingScale);
  return text;
}

ReadingText wholeReadingText(std::int32_t entry) {
  ReadingText text;
  std::snprintf(text.text, sizeof text.text, "%i", static_cast<int>(entry));
  return text;
}
