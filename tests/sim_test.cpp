// korvalen-sim, the stand-in monitor: the blocks its options describe, its limits, its commands
// and its usage errors. Runs natively and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/block_bytes.h"
#include "support/outcome.h"
#include "support/process.h"
#include "support/table.h"

namespace {

std::string snapshot() { return builtProgram("korvalen-snapshot"); }
std::string sim() { return builtProgram("korvalen-sim"); }

struct PublishedCase : TableRow {
  std::vector<std::string> simArgs;
  std::string expected;
};

class PublishedBlock : public testing::TestWithParam<PublishedCase> {};

TEST_P(PublishedBlock, PrintsExactReport) {
  std::vector<std::string> argv{sim()};
  argv.insert(argv.end(), GetParam().simArgs.begin(), GetParam().simArgs.end());
  argv.insert(argv.end(), {"--", snapshot()});
  const ProcessResult result = runProcess(argv);
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
    testing::PrintToStringParamName());

const std::string kLimitBlock = bytesOf(BlockDescription{.version = 4});

INSTANTIATE_TEST_SUITE_P(
    Sim, Outcome,
    testing::Values(
        OutcomeRow{"RawAtTheSizeLimit",
                   {"{sim}", "--raw", "{file}", "--", "{snapshot}"},
                   0,
                   "Version: 4\nFlags: 0\n",
                   "",
                   {},
                   kLimitBlock + std::string((1 << 20) - 402, '\0')},
        OutcomeRow{"RawOverTheSizeLimit",
                   {"{sim}", "--raw", "{file}", "--", "{snapshot}"},
                   66,
                   "",
                   "korvalen-sim: --raw: '{file}' holds more than 1048576 bytes\n",
                   {},
                   std::string((1 << 20) + 1, '\0')},
        OutcomeRow{"AlreadyPublished",
                   {"{sim}", "--sample", "--", "{sim}", "--sample", "--", "{snapshot}"},
                   73,
                   "",
                   "korvalen-sim: KVSharedMemory_QDX is already published; not touching it*"},
        OutcomeRow{"CommandNotFound", {"{sim}", "--", "{file}-none"}, 127, "", "korvalen-sim: *"},
        OutcomeRow{"CommandNotAProgram",
                   {"{sim}", "--", "{file}"},
                   126,
                   "",
                   "korvalen-sim: *",
                   {},
                   "plain text\n"},
        OutcomeRow{"CommandIsAFolder", {"{sim}", "--", "{folder}"}, 126, "", "korvalen-sim: *"},
        OutcomeRow{"OwnVersion", {"{sim}", "--version"}, 0, "korvalen-sim 1.*", ""}),
    testing::PrintToStringParamName());

TEST(Sim, PassesOnTheCommandsStatusAndWithdrawsTheBlock) {
  EXPECT_EQ(runProcess({sim(), "--sample", "--", snapshot()}).status, 0);
  // Withdrawn as soon as the command ends.
  EXPECT_EQ(runProcess({snapshot()}).status, 1);
}

struct UsageCase : TableRow {
  std::vector<std::string> args;
  std::string named;  // what the error line names first, after "korvalen-sim: "
};

class SimUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(SimUsage, NamesTheOptionAndExits64) {
  std::vector<std::string> argv{sim()};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const ProcessResult result = runProcess(argv);
  EXPECT_EQ(result.status, 64);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("korvalen-sim: " + GetParam().named, 0), 0u) << result.err;
  // One line of error, then where to look.
  EXPECT_EQ(result.err.substr(result.err.find('\n') + 1),
            textModeLines("Run 'korvalen-sim --help' for the options.\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Options, SimUsage,
    testing::Values(UsageCase{"UnknownOption", {"--bogus"}, "--bogus:"},
                    UsageCase{"StrayArgument", {"--sample", "x"}, "x:"},
                    UsageCase{"NoCommandAfterSeparator", {"--sample", "--"}, "--:"},
                    UsageCase{"VersionTooLarge", {"--block-version", "65536"}, "--block-version:"},
                    UsageCase{"NegativeCount", {"--fan-count", "-1"}, "--fan-count:"},
                    UsageCase{"LeadingSpace", {"--flags", " 7"}, "--flags:"},
                    UsageCase{"LeadingTab", {"--fan-count", "\t7"}, "--fan-count:"},
                    UsageCase{
                        "LeadingCarriageReturn", {"--block-version", "\r7"}, "--block-version:"},
                    UsageCase{"LeadingVerticalTab", {"--fans", "\v7"}, "--fans:"},
                    UsageCase{"PlusSign", {"--flags", "+7"}, "--flags:"},
                    UsageCase{"Hexadecimal", {"--flags", "0x10"}, "--flags:"},
                    UsageCase{"DecimalWithSpace", {"--temperatures", " 1.5"}, "--temperatures:"},
                    UsageCase{"ThreePlaces", {"--temperatures", "1.234"}, "--temperatures:"},
                    UsageCase{"ScaledOverflow", {"--voltages", "21474836.48"}, "--voltages:"},
                    UsageCase{"FanNotWhole", {"--fans", "1.5"}, "--fans:"},
                    UsageCase{"FanOverflow", {"--fans", "2147483648"}, "--fans:"},
                    UsageCase{"TooManyValues",
                              {"--fans",
                               "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,"
                               "21,22,23,24,25,26,27,28,29,30,31,32,33"},
                              "--fans:"},
                    UsageCase{"TooManyValuesOverRepeats",
                              {"--voltages", "1,2", "--voltages",
                               "3,4,5,6,7,8,9,10,"
                               "11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,"
                               "28,29,30,31,32,33"},
                              "--voltages:"},
                    UsageCase{"EmptyItemInside", {"--fans", "1,,2"}, "--fans:"},
                    UsageCase{"EmptyItemAtEnd", {"--fans", "1,"}, "--fans:"},
                    UsageCase{"EmptyItemAtStart", {"--temperatures", ",5"}, "--temperatures:"},
                    UsageCase{"EmptyRawPath", {"--raw", ""}, "--raw:"},
                    UsageCase{"RawWithDescription", {"--raw", "x", "--sample"}, "--raw:"}),
    testing::PrintToStringParamName());

}  // namespace
