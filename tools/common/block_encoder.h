// Writes the sensor record as the Korvalen monitor lays it out: little-endian, byte by byte, at
// the offsets that the reader uses. korvalen-sim and the tests share it; the product itself
// never writes a block.
#ifndef KORVALEN_COMMON_BLOCK_ENCODER_H
#define KORVALEN_COMMON_BLOCK_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sensor_block.h"

struct ReadingsDescription {
  std::uint16_t count = 0;            // as published; may differ from the number of entries
  std::vector<std::int32_t> entries;  // slots from 0, at most kMaxReadings; the rest hold filler
};

struct BlockDescription {
  std::uint16_t version = 1;
  std::uint16_t flags = 0;
  ReadingsDescription temperatures, fans, voltages;
  std::uint8_t filler = 0;  // every byte not given a value, the monitor's own bytes included

  ReadingsDescription& readings(ReadingKind kind) {
    return kind == ReadingKind::temperatures ? temperatures
           : kind == ReadingKind::fans       ? fans
                                             : voltages;
  }
  const ReadingsDescription& readings(ReadingKind kind) const {
    return const_cast<BlockDescription*>(this)->readings(kind);
  }
};

// Stores the low `size` bytes of `value` at `at`, least significant first. Volatile, so that it
// can write a block that readers map while it is written.
inline void storeLittleEndian(volatile std::uint8_t* at, std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Stores the count of `kind` in the record at `record`.
inline void storeCount(volatile std::uint8_t* record, ReadingKind kind, std::uint16_t count) {
  storeLittleEndian(record + readingKind(kind).countOffset, count, 2);
}

// Stores entry `slot` (below kMaxReadings) of `kind` in the record at `record`.
inline void storeEntry(volatile std::uint8_t* record, ReadingKind kind, unsigned slot,
                       std::int32_t value) {
  storeLittleEndian(record + readingKind(kind).entriesOffset + (slot % kMaxReadings) * kReadingSize,
                    static_cast<std::uint32_t>(value), kReadingSize);
}

// The kSensorBlockSize bytes of `block`. Entries beyond kMaxReadings are not stored.
inline std::vector<std::uint8_t> encodeBlock(const BlockDescription& block) {
  std::vector<std::uint8_t> bytes(kSensorBlockSize, block.filler);
  storeLittleEndian(bytes.data() + kVersionOffset, block.version, 2);
  storeLittleEndian(bytes.data() + kFlagsOffset, block.flags, 2);
  for (const ReadingKindInfo& info : kReadingKinds) {
    const ReadingKind kind = info.kind;
    const ReadingsDescription& readings = block.readings(kind);
    storeCount(bytes.data(), kind, readings.count);
    for (unsigned slot = 0; slot < readings.entries.size() && slot < kMaxReadings; ++slot) {
      storeEntry(bytes.data(), kind, slot, readings.entries[slot]);
    }
  }
  return bytes;
}

#endif  // KORVALEN_COMMON_BLOCK_ENCODER_H
