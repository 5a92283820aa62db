#include "sensor/snapshot_report.h"

namespace {

using EntryReader = std::int32_t (SensorBlock::*)(unsigned) const;

// Writes `label` and the first min(count, kMaxReadings) entries divided by kReadingScale, or
// nothing when the count is zero.
void writeScaledLine(std::FILE* out, const char* label, std::uint16_t count,
                     const SensorBlock& block, EntryReader entry) {
  if (count == 0) return;
  std::fputs(label, out);
  const unsigned used = usableReadings(count);
  for (unsigned index = 0; index < used; ++index) {
    std::fprintf(out, " %.2f", static_cast<double>((block.*entry)(index)) / kReadingScale);
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
      std::fprintf(out, " %i", static_cast<int>(block.fan(index)));
    }
  }

  writeScaledLine(out, "\nVoltages:", block.voltageCount(), block, &SensorBlock::voltage);

  std::fputc('\n', out);
}
