// Builds sensor blocks byte by byte, and formats readings the way the report must show them,
// by integer arithmetic that does not depend on printf.
#ifndef KORVALEN_TESTS_SUPPORT_BLOCK_BYTES_H
#define KORVALEN_TESTS_SUPPORT_BLOCK_BYTES_H

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sensor/sensor_block.h"

struct ReadingsDescription {
  std::uint16_t count = 0;
  std::vector<std::int32_t> entries;  // slots from 0; the rest hold the filler
};

struct BlockDescription {
  std::uint16_t version = 1;
  std::uint16_t flags = 0;
  ReadingsDescription temperatures, fans, voltages;
  std::uint8_t filler = 0;  // every byte not given a value, the monitor's own bytes included
};

inline void putLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t offset,
                            std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline std::vector<std::uint8_t> encodeBlock(const BlockDescription& block) {
  std::vector<std::uint8_t> bytes(kSensorBlockSize, block.filler);
  putLittleEndian(bytes, kVersionOffset, block.version, 2);
  putLittleEndian(bytes, kFlagsOffset, block.flags, 2);
  const struct {
    const ReadingsDescription& readings;
    std::size_t countOffset, arrayOffset;
  } kinds[] = {{block.temperatures, kTemperatureCountOffset, kTemperaturesOffset},
               {block.fans, kFanCountOffset, kFansOffset},
               {block.voltages, kVoltageCountOffset, kVoltagesOffset}};
  for (const auto& kind : kinds) {
    putLittleEndian(bytes, kind.countOffset, kind.readings.count, 2);
    for (std::size_t i = 0; i < kind.readings.entries.size(); ++i) {
      putLittleEndian(bytes, kind.arrayOffset + 4 * i,
                      static_cast<std::uint32_t>(kind.readings.entries[i]), 4);
    }
  }
  return bytes;
}

// The record's bytes as a string, ready to be written to a file.
inline std::string bytesOf(const BlockDescription& block) {
  const std::vector<std::uint8_t> bytes = encodeBlock(block);
  return std::string(bytes.begin(), bytes.end());
}

// The exact decimal of `hundredths` / 100 with two places: "-0.05", "21474836.47".
inline std::string formatHundredths(std::int32_t hundredths) {
  const long long value = hundredths;
  const unsigned long long magnitude = static_cast<unsigned long long>(std::llabs(value));
  const unsigned long long places = magnitude % 100;
  return (value < 0 ? "-" : "") + std::to_string(magnitude / 100) + "." + (places < 10 ? "0" : "") +
         std::to_string(places);
}

// `count` entries 0, 1, ... scaled by `step`, with alternating signs.
inline std::vector<std::int32_t> sequence(unsigned count, std::int32_t step) {
  std::vector<std::int32_t> entries;
  for (unsigned i = 0; i < count; ++i) {
    entries.push_back(static_cast<std::int32_t>(i) * step * (i % 2 == 0 ? 1 : -1));
  }
  return entries;
}

// The report line for `entries`, e.g. " 4.55 3.80" (scaled) or " 980" (whole).
inline std::string valuesText(const std::vector<std::int32_t>& entries, bool scaled) {
  std::string text;
  for (std::int32_t entry : entries) {
    text += " " + (scaled ? formatHundredths(entry) : std::to_string(entry));
  }
  return text;
}

#endif  // KORVALEN_TESTS_SUPPORT_BLOCK_BYTES_H
