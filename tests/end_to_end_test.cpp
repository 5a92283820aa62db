// The programs as their users run them: korvalen-sim publishes a block, korvalen-snapshot
// reports it. Runs natively and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/block_bytes.h"
#include "support/process.h"

namespace {

std::string snapshot() { return builtProgram("korvalen-snapshot"); }
std::string sim() { return builtProgram("korvalen-sim"); }

// Runs korvalen-snapshot with `args` while korvalen-sim publishes a block made by `simArgs`.
ProcessResult snapshotUnder(std::vector<std::string> simArgs,
                            const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv{sim()};
  argv.insert(argv.end(), simArgs.begin(), simArgs.end());
  argv.push_back("--");
  argv.push_back(snapshot());
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv);
}

struct PublishedCase {
  const char* name;
  std::vector<std::string> simArgs;
  std::string expected;
};

void PrintTo(const PublishedCase& c, std::ostream* os) { *os << c.name; }

class PublishedBlock : public testing::TestWithParam<PublishedCase> {};

TEST_P(PublishedBlock, PrintsExactReport) {
  const ProcessResult result = snapshotUnder(GetParam().simArgs);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, textModeLines(GetParam().expected));
  EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Sim, PublishedBlock,
    testing::Values(
        PublishedCase{"Sample", {"--sample"}, kSampleReport},
        PublishedCase{"Described",
                      {"--block-version", "65535", "--flags", "9", "--temperatures", "-0.05,12,3.5",
                       "--fans", "-1,2000", "--voltages", "1", "--voltage-count", "0"},
                      "Version: 65535\nFlags: 9\nTemperatures: -0.05 12.00 3.50\n"
                      "Fans: -1 2000\n"},
        PublishedCase{"CountsBeyondValues",
                      {"--fans", "7", "--fan-count", "40", "--temperature-count", "2"},
                      "Version: 1\nFlags: 0\nTemperatures: 0.00 0.00\nFans: 7" +
                          valuesText(std::vector<std::int32_t>(31, 0), false) + "\n"},
        PublishedCase{"EmptyBlock", {}, "Version: 1\nFlags: 0\n"},
        PublishedCase{"SampleAmendedWhereverItStands",
                      {"--temperatures", "1", "--fan-count", "1", "--sample", "--flags", "00"},
                      "Version: 3\nFlags: 0\nTemperatures: 1.00\nFans: 1240\n"
                      "Voltages: 1.20 3.31 5.02 12.10\n"},
        PublishedCase{"LeadingZerosAreDecimal",
                      {"--block-version", "010", "--fans", "-007"},
                      "Version: 10\nFlags: 0\nFans: -7\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RawCase {
  const char* name;
  std::string bytes;
  int status;
  std::string out;
  std::string err;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

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

class RawBlock : public testing::TestWithParam<RawCase> {};

TEST_P(RawBlock, ReportsOrFailsToMap) {
  const std::string path = scratchPath("raw");
  writeFile(path, GetParam().bytes);
  const ProcessResult result = snapshotUnder({"--raw", path});
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.out, textModeLines(GetParam().out));
  std::string err = GetParam().err;
  if (const std::size_t at = err.find("{path}"); at != std::string::npos) err.replace(at, 6, path);
  EXPECT_EQ(result.err, textModeLines(err));
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, RawBlock,
    testing::Values(RawCase{"WholeRecord", kRawBytes, 0, kRawReport, ""},
                    RawCase{"LargerThanRecord", kRawBytes + std::string(5000, '\x7f'), 0,
                            kRawReport, ""},
                    RawCase{"OneByteShort", kRawBytes.substr(0, 401), 2, "", kMapError},
                    RawCase{"OneByte", "\x01", 2, "", kMapError},
                    RawCase{"AtTheSizeLimit", kRawBytes + std::string((1 << 20) - 402, '\0'), 0,
                            kRawReport, ""},
                    RawCase{"OverTheSizeLimit", std::string((1 << 20) + 1, '\0'), 66, "",
                            "korvalen-sim: --raw: '{path}' holds more than 1048576 bytes\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Snapshot, MissingBlockFailsToOpen) {
  const ProcessResult result = runProcess({snapshot()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, textModeLines(kOpenError));
}

TEST(Snapshot, ArgumentsChangeNothing) {
  const ProcessResult plain = snapshotUnder({"--sample"});
  const ProcessResult withArgs = snapshotUnder({"--sample"}, {"--help", "-v", "x y", ""});
  EXPECT_EQ(withArgs.status, 0);
  EXPECT_EQ(withArgs.out, plain.out);
  EXPECT_EQ(withArgs.err, "");

  const ProcessResult missing = runProcess({snapshot(), "--help"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, textModeLines(kOpenError));
}

TEST(Sim, PassesOnTheCommandsStatusAndWithdrawsTheBlock) {
  EXPECT_EQ(runProcess({sim(), "--sample", "--", snapshot()}).status, 0);
  // Withdrawn as soon as the command ends.
  EXPECT_EQ(runProcess({snapshot()}).status, 1);
  // A block that is already there is never taken over; the outer sim passes the 73 on.
  EXPECT_EQ(runProcess({sim(), "--sample", "--", sim(), "--sample", "--", snapshot()}).status, 73);
}

TEST(Snapshot, BlockThatRefusesReadersFailsToOpen) {
  const ProcessResult result =
      runProcess(withoutPrivilege({sim(), "--refuse-readers", "--sample", "--", snapshot()}));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, textModeLines(kOpenError));
  EXPECT_EQ(runProcess({snapshot()}).status, 1) << "the refused block was left behind";
}

TEST(Sim, TellsACommandNotFoundFromOneThatCannotRun) {
  const std::string notAProgram = scratchPath("not-a-program.txt");
  writeFile(notAProgram, "plain text\n");
  EXPECT_EQ(runProcess({sim(), "--", notAProgram}).status, 126);
  EXPECT_EQ(runProcess({sim(), "--", scratchPath("no-such-program")}).status, 127);
  std::remove(notAProgram.c_str());
}

TEST(Sim, PrintsItsOwnVersion) {
  const ProcessResult result = runProcess({sim(), "--version"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("korvalen-sim 1.", 0), 0u) << result.out;
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  std::string firstLine;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class SimUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(SimUsage, NamesTheOptionAndExits64) {
  std::vector<std::string> argv{sim()};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const ProcessResult result = runProcess(argv);
  EXPECT_EQ(result.status, 64);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.substr(0, result.err.find('\n') + 1),
            textModeLines("korvalen-sim: " + GetParam().firstLine + "\n"));
  EXPECT_NE(result.err.find("korvalen-sim --help"), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Options, SimUsage,
    testing::Values(
        UsageCase{"UnknownOption", {"--bogus"}, "The following argument was not expected: --bogus"},
        UsageCase{"StrayArgument", {"--sample", "x"}, "The following argument was not expected: x"},
        UsageCase{"NoCommandAfterSeparator", {"--sample", "--"}, "--: no command follows"},
        UsageCase{"VersionTooLarge",
                  {"--block-version", "65536"},
                  "--block-version: Value 65536 not in range 0 to 65535"},
        UsageCase{"NegativeCount",
                  {"--fan-count", "-1"},
                  "--fan-count: Value -1 not in range 0 to 65535"},
        UsageCase{"LeadingSpace", {"--flags", " 7"}, "--flags: ' 7' is not a whole number"},
        UsageCase{"LeadingTab", {"--fan-count", "\t7"}, "--fan-count: '\t7' is not a whole number"},
        UsageCase{"LeadingCarriageReturn",
                  {"--block-version", "\r7"},
                  "--block-version: '\r7' is not a whole number"},
        UsageCase{"LeadingVerticalTab", {"--fans", "\v7"}, "--fans: '\v7' is not a whole number"},
        UsageCase{"PlusSign", {"--flags", "+7"}, "--flags: '+7' is not a whole number"},
        UsageCase{"Hexadecimal", {"--flags", "0x10"}, "--flags: '0x10' is not a whole number"},
        UsageCase{"DecimalWithSpace",
                  {"--temperatures", " 1.5"},
                  "--temperatures: ' 1.5' is not a decimal with at most two places from "
                  "-21474836.48 to 21474836.47"},
        UsageCase{"ThreePlaces",
                  {"--temperatures", "1.234"},
                  "--temperatures: '1.234' is not a decimal with at most two places from "
                  "-21474836.48 to 21474836.47"},
        UsageCase{"ScaledOverflow",
                  {"--voltages", "21474836.48"},
                  "--voltages: '21474836.48' is not a decimal with at most two places from "
                  "-21474836.48 to 21474836.47"},
        UsageCase{"FanNotWhole", {"--fans", "1.5"}, "--fans: '1.5' is not a whole number"},
        UsageCase{"FanOverflow",
                  {"--fans", "2147483648"},
                  "--fans: Value 2147483648 not in range -2147483648 to 2147483647"},
        UsageCase{"TooManyValues",
                  {"--fans",
                   "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,"
                   "26,27,28,29,30,31,32,33"},
                  "--fans: At Most 32 required but received 33"},
        UsageCase{"RawWithDescription", {"--raw", "x", "--sample"}, "--sample excludes --raw"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
