#include "snapshot_report.h"

#include <charconv>

namespace {

// The conversions of a reading in the report, after the space that goes before it. readingText
// spells the same digits from the integer; the report's tests hold the two to each other.
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
  // Spelled from the integer rather than through printf: a textfile writes hundreds of these,
  // and the digits are the same. The quotient lies within 1e-8 of entry / 100, whose two
  // decimals are exact, so "%.2f" always rounds it to them.
  ReadingText text{};
  char* const last = text.text + sizeof text.text - 1;
  if (!kind.scaled) {
    std::to_chars(text.text, last, entry);
    return text;
  }
  constexpr auto kScale = static_cast<std::int64_t>(kReadingScale);
  static_assert(kScale == 100, "two decimals");
  const std::int64_t magnitude = entry < 0 ? -std::int64_t{entry} : std::int64_t{entry};
  char* next = text.text;
  if (entry < 0) *next++ = '-';
  next = std::to_chars(next, last, magnitude / kScale).ptr;
  *next++ = '.';
  *next++ = static_cast<char>('0' + magnitude % kScale / 10);
  *next = static_cast<char>('0' + magnitude % 10);
  return text;
}
