#include "snapshot_report.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/block_bytes.h"
#include "support/table.h"

namespace {

struct ReportCase : TableRow {
  BlockDescription block;
  std::string expected;
};

// Writes the report of `bytes` placed at an odd address, at the very end of its allocation,
// so that a sanitizer sees any read past the record.
std::string reportOf(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> storage(bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), storage.begin() + 1);
  std::FILE* out = std::tmpfile();
  if (out == nullptr) return "<no temporary file>";
  writeSnapshotReport(SensorBlock{storage.data() + 1}, out);
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  return text;
}

const std::vector<std::int32_t> kSlotsFull = sequence(kMaxReadings, 1234567);
const std::string kScaledFull = valuesText(kSlotsFull, true);
const std::string kWholeFull = valuesText(kSlotsFull, false);

const std::string kFullLines =
    "\nTemperatures:" + kScaledFull + "\nFans:" + kWholeFull + "\nVoltages:" + kScaledFull + "\n";

// clang-format off
std::vector<ReportCase> reportCases() {
  return {
      {"WorkedExample", {.temperatures = {2, {455, 380}}, .fans = {1, {980}}},
       "Version: 1\nFlags: 0\nTemperatures: 4.55 3.80\nFans: 980\n"},
      {"AllCountsZero", {.version = 7, .flags = 3}, "Version: 7\nFlags: 3\n"},
      {"OneZeroTemperature", {.temperatures = {1, {0}}}, "Version: 1\nFlags: 0\nTemperatures: 0.00\n"},
      {"NegativeReadings", {.temperatures = {4, {-150, -5, -100, -99}}, .fans = {1, {-1}},
       .voltages = {2, {-5, 1}}}, "Version: 1\nFlags: 0\nTemperatures: -1.50 -0.05 -1.00 -0.99\n"
       "Fans: -1\nVoltages: -0.05 0.01\n"},
      {"ExtremeEntries", {.temperatures = {2, {INT32_MIN, INT32_MAX}}, .fans = {2, {INT32_MIN,
       INT32_MAX}}, .voltages = {2, {INT32_MAX, INT32_MIN}}}, "Version: 1\nFlags: 0\nTemperatures: "
       "-21474836.48 21474836.47\nFans: -2147483648 2147483647\nVoltages: 21474836.47 -21474836.48\n"},
      {"HeaderMaxima", {.version = 65535, .flags = 65535}, "Version: 65535\nFlags: 65535\n"},
      {"OnlyVoltages", {.voltages = {1, {1210}}}, "Version: 1\nFlags: 0\nVoltages: 12.10\n"},
      {"FullCounts", {.temperatures = {32, kSlotsFull}, .fans = {32, kSlotsFull},
       .voltages = {32, kSlotsFull}}, "Version: 1\nFlags: 0" + kFullLines},
      {"CountsAboveSlotsAreCut", {.temperatures = {33, kSlotsFull}, .fans = {40, kSlotsFull},
       .voltages = {65535, kSlotsFull}}, "Version: 1\nFlags: 0" + kFullLines},
      {"GarbageBeyondCountsAndInMonitorBytes", {.version = 2, .temperatures = {1, {2550}},
       .fans = {2, {1200, 1300}}, .voltages = {0, {}}, .filler = 0xEE},
       "Version: 2\nFlags: 0\nTemperatures: 25.50\nFans: 1200 1300\n"},
  };
}
// clang-format on

class SnapshotReport : public testing::TestWithParam<ReportCase> {};

TEST_P(SnapshotReport, WritesExactText) {
  EXPECT_EQ(reportOf(encodeBlock(GetParam().block)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Blocks, SnapshotReport, testing::ValuesIn(reportCases()),
                         testing::PrintToStringParamName());

// Every entry of 32-bit range prints as the exact decimal of entry / 100, never "-0.00", in the
// report and as a reading's text.
TEST(SnapshotReportValues, ScaledEntriesPrintExactly) {
  // clang-format off
  const std::int32_t probes[] = {0, 1, -1, 5, -5, 99, -99, 100, -100, 101, 455, -455, 999999,
                                 -1000001, 16777217, -16777217, 123456789, -2147483647, INT32_MAX,
                                 INT32_MIN};
  // clang-format on
  for (std::int32_t entry : probes) {
    BlockDescription block{.temperatures = {1, {entry}}};
    EXPECT_EQ(reportOf(encodeBlock(block)),
              "Version: 1\nFlags: 0\nTemperatures: " + formatHundredths(entry) + "\n")
        << "entry " << entry;
    EXPECT_STREQ(readingText(kReadingKinds[0], entry).text, formatHundredths(entry).c_str());
    EXPECT_STREQ(readingText(kReadingKinds[1], entry).text, std::to_string(entry).c_str());
  }
}

}  // namespace
