// korvalen-snapshot as its users run it, with korvalen-sim publishing the block. Runs natively
// and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/block_bytes.h"
#include "support/process.h"
#include "support/table.h"

namespace {

// `text` with the placeholders of an OutcomeRow replaced.
std::string expand(std::string text, const std::string& file) {
  const std::pair<std::string, std::string> placeholders[] = {
      {"{sim}", sim()},
      {"{snapshot}", snapshot()},
      {"{folder}", sim().substr(0, sim().find_last_of("\\/"))},
      {"{file}", file}};
  for (const auto& [key, value] : placeholders) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

// Whether `text` matches `pattern`, where '*' stands for any run of characters within a line.
bool matches(std::string_view text, std::string_view pattern) {
  if (pattern.empty() || pattern[0] != '*') {
    return pattern.empty() ? text.empty()
                           : !text.empty() && text[0] == pattern[0] &&
                                 matches(text.substr(1), pattern.substr(1));
  }
  for (std::size_t skipped = 0;; ++skipped) {
    if (matches(text.substr(skipped), pattern.substr(1))) return true;
    if (skipped == text.size() || text[skipped] == '\n') return false;
  }
}

}  // namespace

TEST_P(Outcome, EndsAsExpected) {
  const OutcomeRow& row = GetParam();
  const std::string file = scratchPath("file");
  if (!row.file.empty()) writeFile(file, row.file);
  std::vector<std::string> argv;
  for (const std::string& arg : row.argv) argv.push_back(expand(arg, file));
  if (argv[0] == "{unprivileged}") argv = withoutPrivilege({argv.begin() + 1, argv.end()});
  const ProcessResult result = runProcess(argv, row.sink);
  std::remove(file.c_str());
  EXPECT_EQ(result.status, row.status) << result.err;
  EXPECT_PRED2(matches, result.out, textModeLines(expand(row.out, file)));
  EXPECT_PRED2(matches, result.err, textModeLines(expand(row.err, file)));
  EXPECT_EQ(runProcess({snapshot()}).status, 1) << "a block was left published";
}

namespace {

const BlockDescription kRawBlock{.version = 4,
                                 .flags = 2,
                                 .temperatures = {2, {4550, -120}},
                                 .fans = {65535, sequence(32, 3)},
                                 .voltages = {1, {331}},
                                 .filler = 0xFF};
const std::string kRawBytes = bytesOf(kRawBlock);
const std::string kRawReport =
    "Version: 4\nFlags: 2\nTemperatures: 45.50 -1.20\nFans:" + valuesText(sequence(32, 3), false) +
    "\nVoltages: 3.31\n";
const std::vector<std::string> kSnapshotOfRaw{"{sim}", "--raw", "{file}", "--", "{snapshot}"};
const std::vector<std::string> kSnapshotOfSample{"{sim}", "--sample", "--", "{snapshot}"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Snapshot, Outcome,
    testing::Values(
        OutcomeRow{"MissingBlock", {"{snapshot}"}, 1, "", kOpenError},
        OutcomeRow{"MissingBlockWithArguments", {"{snapshot}", "--help"}, 1, "", kOpenError},
        OutcomeRow{"ArgumentsChangeNothing", {"{sim}", "--sample", "--", "{snapshot}", "--help",
                   "-v", "x y", ""}, 0, kSampleReport, ""},
        OutcomeRow{"RawWholeRecord", kSnapshotOfRaw, 0, kRawReport, "", {}, kRawBytes},
        OutcomeRow{"RawLargerThanRecord", kSnapshotOfRaw, 0, kRawReport, "", {},
                   kRawBytes + std::string(5000, '\x7f')},
        OutcomeRow{"RawOneByteShort", kSnapshotOfRaw, 2, "", kMapError, {}, kRawBytes.substr(0, 401)},
        OutcomeRow{"RawOneByte", kSnapshotOfRaw, 2, "", kMapError, {}, "\x01"},
        OutcomeRow{"BlockThatRefusesReaders", {"{unprivileged}", "{sim}", "--refuse-readers",
                   "--sample", "--", "{snapshot}"}, 1, "", kOpenError},
        OutcomeRow{"ReportToNullDevice", kSnapshotOfSample, 0, "", "", OutputSink::nullDevice},
        OutcomeRow{"ReportToFullDevice", kSnapshotOfSample, 3, "", kWriteError, OutputSink::fullDevice},
        OutcomeRow{"ReportToClosedPipe", kSnapshotOfSample, 3, "", kWriteError, OutputSink::closedPipe},
        OutcomeRow{"ReportWithoutStandardOutput", kSnapshotOfSample, 3, "", kWriteError,
                   OutputSink::closed}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
