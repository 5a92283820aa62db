// Sensor blocks as bytes, and readings formatted the way the report must show them, by integer
// arithmetic that does not depend on printf.
#ifndef KORVALEN_TESTS_SUPPORT_BLOCK_BYTES_H
#define KORVALEN_TESTS_SUPPORT_BLOCK_BYTES_H

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "block_encoder.h"

// korvalen-sim's --sample block, as its help describes it.
inline const BlockDescription kSampleBlock{.version = 3,
                                           .flags = 1,
                                           .temperatures = {4, {4550, 3825, 5100, 2975}},
                                           .fans = {3, {1240, 980, 0}},
                                           .voltages = {4, {120, 331, 502, 1210}}};

// The three failure messages, and the report of korvalen-sim's --sample block.
inline const std::string kOpenError = "Korvalen OpenFileMapping Error.\n";
inline const std::string kMapError = "Korvalen MapViewOfFile Error.\n";
inline const std::string kWriteError = "Korvalen WriteFile Error.\n";
inline const std::string kSampleReport =
    "Version: 3\nFlags: 1\nTemperatures: 45.50 38.25 51.00 29.75\nFans: 1240 980 0\n"
    "Voltages: 1.20 3.31 5.02 12.10\n";

// The record's bytes as a string, ready to be written to a file.
inline std::string bytesOf(const BlockDescription& block) {
  const std::vector<std::uint8_t> bytes = encodeBlock(block);
  return std::string(bytes.begin(), bytes.end());
}

// The exact decimal of `hundredths` / 100 with two places: "-0.05", "21474836.47".
inline std::string formatHundredths(std::int32_t hundredths) {
  const unsigned long long magnitude = static_cast<unsigned long long>(std::llabs(hundredths));
  return (hundredths < 0 ? "-" : "") + std::to_string(magnitude / 100) +
         (magnitude % 100 < 10 ? ".0" : ".") + std::to_string(magnitude % 100);
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
