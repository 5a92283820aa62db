// Hands arbitrary bytes, cut or padded to one record, to the report writer and checks the text
// against what the report must be: the version and flags lines, then only the kinds whose count
// is not zero, in order, each with exactly min(count, 32) values in its format, and one final
// line feed. The expected text is made by integer arithmetic, independently of printf.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "snapshot_report.h"
#include "support/block_bytes.h"

namespace {

std::uint16_t field16(const std::uint8_t* bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::int32_t field32(const std::uint8_t* bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes[offset + static_cast<std::size_t>(i)];
  return static_cast<std::int32_t>(value);
}

std::string expectedReport(const std::uint8_t* bytes) {
  std::string text = "Version: " + std::to_string(field16(bytes, kVersionOffset)) +
                     "\nFlags: " + std::to_string(field16(bytes, kFlagsOffset));
  const struct {
    const char* label;
    std::size_t countOffset, arrayOffset;
    bool scaled;
  } kinds[] = {{"\nTemperatures:", kTemperatureCountOffset, kTemperaturesOffset, true},
               {"\nFans:", kFanCountOffset, kFansOffset, false},
               {"\nVoltages:", kVoltageCountOffset, kVoltagesOffset, true}};
  for (const auto& kind : kinds) {
    const unsigned count = field16(bytes, kind.countOffset);
    if (count == 0) continue;
    text += kind.label;
    for (unsigned i = 0; i < count && i < 32; ++i) {
      const std::int32_t entry = field32(bytes, kind.arrayOffset + 4 * i);
      text += " " + (kind.scaled ? formatHundredths(entry) : std::to_string(entry));
    }
  }
  return text + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly one record on the heap, so that the sanitizer sees any read past its end.
  const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kSensorBlockSize]());
  std::memcpy(block.get(), data, size < kSensorBlockSize ? size : kSensorBlockSize);

  char written[4096] = {};
  std::FILE* out = fmemopen(written, sizeof written - 1, "w");
  if (out == nullptr) std::abort();
  writeSnapshotReport(SensorBlock{block.get()}, out);
  std::fclose(out);

  const std::string expected = expectedReport(block.get());
  if (expected != written) {
    std::fprintf(stderr, "report differs\nexpected:\n%s\nwritten:\n%s\n", expected.c_str(),
                 written);
    std::abort();
  }
  return 0;
}
