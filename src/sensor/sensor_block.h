// Read-only view of the record that the Korvalen monitor keeps in its shared block.
//
// The record is 402 bytes, byte-packed and little-endian, and the monitor may rewrite it while
// we read. Every field is therefore assembled from its exact offset out of `const volatile`
// bytes: each load happens once, where the code asks for it, and nothing outside offsets 0-3 and
// 12-401 is ever touched. The record is never cast to a struct: its arrays start at offsets that
// are not multiples of 4.
#ifndef KORVALEN_SENSOR_SENSOR_BLOCK_H
#define KORVALEN_SENSOR_SENSOR_BLOCK_H

#include <cstddef>
#include <cstdint>

// Name of the monitor's shared block: no namespace prefix, so it is looked up in the caller's own
// namespace of kernel object names (on POSIX, the shared-memory object "/" + name).
inline constexpr const char* kSensorMappingName = "KVSharedMemory_QDX";

inline constexpr std::size_t kSensorBlockSize = 402;
inline constexpr unsigned kMaxReadings = 32;
inline constexpr double kReadingScale = 100.0;

inline constexpr std::size_t kVersionOffset = 0;
inline constexpr std::size_t kFlagsOffset = 2;
inline constexpr std::size_t kTemperatureCountOffset = 12;
inline constexpr std::size_t kFanCountOffset = 14;
inline constexpr std::size_t kVoltageCountOffset = 16;
inline constexpr std::size_t kTemperaturesOffset = 18;
inline constexpr std::size_t kFansOffset = 146;
inline constexpr std::size_t kVoltagesOffset = 274;
inline constexpr std::size_t kReadingSize = 4;
inline constexpr std::size_t kReadingArraySize = kMaxReadings * kReadingSize;

static_assert(kFlagsOffset == kVersionOffset + 2);
static_assert(kFanCountOffset == kTemperatureCountOffset + 2);
static_assert(kVoltageCountOffset == kFanCountOffset + 2);
static_assert(kTemperaturesOffset == kVoltageCountOffset + 2);
static_assert(kFansOffset == kTemperaturesOffset + kReadingArraySize);
static_assert(kVoltagesOffset == kFansOffset + kReadingArraySize);
static_assert(kVoltagesOffset + kReadingArraySize == kSensorBlockSize);

// Returns the unsigned 16-bit little-endian value at `bytes`; loads each byte once.
inline std::uint16_t loadLittleEndian16(const volatile std::uint8_t* bytes) {
  const std::uint32_t low = bytes[0];
  const std::uint32_t high = bytes[1];
  return static_cast<std::uint16_t>(low | (high << 8));
}

// Returns the signed 32-bit little-endian (two's-complement) value at `bytes`, which need not be
// aligned; loads each byte once.
inline std::int32_t loadLittleEndian32(const volatile std::uint8_t* bytes) {
  const std::uint32_t b0 = bytes[0];
  const std::uint32_t b1 = bytes[1];
  const std::uint32_t b2 = bytes[2];
  const std::uint32_t b3 = bytes[3];
  const std::uint32_t value = b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
  // Well defined since C++20: the conversion is modulo 2^32, i.e. two's complement.
  return static_cast<std::int32_t>(value);
}

// The three kinds of reading, in the order that the record holds them and the report writes them.
enum class ReadingKind { temperatures, fans, voltages };

// Everything that tells one kind of reading from another, in one place: where the record keeps
// its count and entries, and how an entry becomes a value.
struct ReadingKindInfo {
  ReadingKind kind;
  std::size_t countOffset;
  std::size_t entriesOffset;
  bool scaled;        // entries are hundredths (written "%.2f" of entry / kReadingScale), or
                      // whole numbers used as they stand ("%i")
  const char* label;  // the report's, after the line break that ends the line before: one
                      // fputs for both, which msvcrt's text mode sends in one write with the rest
};

inline constexpr ReadingKindInfo kReadingKinds[] = {
    {ReadingKind::temperatures, kTemperatureCountOffset, kTemperaturesOffset, true,
     "\nTemperatures:"},
    {ReadingKind::fans, kFanCountOffset, kFansOffset, false, "\nFans:"},
    {ReadingKind::voltages, kVoltageCountOffset, kVoltagesOffset, true, "\nVoltages:"}};

static_assert(kReadingKinds[0].kind == ReadingKind::temperatures &&
              kReadingKinds[1].kind == ReadingKind::fans &&
              kReadingKinds[2].kind == ReadingKind::voltages);

// The description of `kind`.
inline constexpr const ReadingKindInfo& readingKind(ReadingKind kind) {
  return kReadingKinds[static_cast<int>(kind)];
}

// A view over at least kSensorBlockSize bytes owned by someone else. It copies nothing; every
// accessor reads shared memory afresh, so call each one exactly when its value is needed.
struct SensorBlock {
  const volatile std::uint8_t* bytes;

  std::uint16_t version() const { return loadLittleEndian16(bytes + kVersionOffset); }
  std::uint16_t flags() const { return loadLittleEndian16(bytes + kFlagsOffset); }

  // The raw count of `kind` as the monitor wrote it; it may exceed kMaxReadings.
  std::uint16_t count(const ReadingKindInfo& kind) const {
    return loadLittleEndian16(bytes + kind.countOffset);
  }

  // Entry `index` of `kind`. The index is reduced modulo kMaxReadings, so no argument can reach
  // outside the record; callers pass indexes below kMaxReadings.
  std::int32_t entry(const ReadingKindInfo& kind, unsigned index) const {
    return loadLittleEndian32(bytes + kind.entriesOffset + (index % kMaxReadings) * kReadingSize);
  }
};

// The number of entries of a kind that are used: the first min(count, kMaxReadings).
inline constexpr unsigned usableReadings(std::uint16_t count) {
  return count < kMaxReadings ? count : kMaxReadings;
}

#endif  // KORVALEN_SENSOR_SENSOR_BLOCK_H
