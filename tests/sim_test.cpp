// korvalen-sim, the stand-in monitor: the blocks its options describe, its limits, its commands
// and its usage errors. Runs natively and, built for Windows, under Wine.
#include <string>

#include "outcome.h"
#include "support/block_bytes.h"

namespace {

// The usage error about `what`: one line, then where to look.
std::string usage(const std::string& what) {
  return "korvalen-sim: " + what + "*\nRun 'korvalen-sim --help' for the options.\n";
}

// A row of korvalen-sim run with `args` that ends in status 64 and the usage error about `what`.
OutcomeRow badUsage(const char* name, std::vector<std::string> args, const std::string& what) {
  args.insert(args.begin(), "{sim}");
  return {.name = name, .argv = args, .status = 64, .err = usage(what)};
}

// `args`, published for korvalen-snapshot.
std::vector<std::string> published(std::vector<std::string> args) {
  args.insert(args.begin(), "{sim}");
  args.insert(args.end(), {"--", "{snapshot}"});
  return args;
}

const std::string k33Values =
    "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,"
    "25,26,27,28,29,30,31,32,33";
const std::string kLimitBlock = bytesOf(BlockDescription{.version = 4});
const std::vector<std::string> kSnapshotOfRaw = published({"--raw", "{file}"});

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Sim, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "Sample", .argv = published({"--sample"}), .out = kSampleReport},
        {.name = "Described", .argv = published({"--block-version", "65535", "--flags", "9",
          "--temperatures", "-0.05,12,3.5", "--fans", "-1,2000", "--voltages", "1",
          "--voltage-count", "0"}),
          .out = "Version: 65535\nFlags: 9\nTemperatures: -0.05 12.00 3.50\nFans: -1 2000\n"},
        {.name = "CountsBeyondValues", .argv = published({"--fans", "7", "--fan-count", "40",
          "--temperature-count", "2"}), .out = "Version: 1\nFlags: 0\nTemperatures: 0.00 "
          "0.00\nFans: 7" + valuesText(std::vector<std::int32_t>(31, 0), false) + "\n"},
        {.name = "EmptyBlock", .argv = published({}), .out = "Version: 1\nFlags: 0\n"},
        {.name = "SampleAmendedWhereverItStands", .argv = published({"--temperatures", "1",
          "--fan-count", "1", "--sample", "--flags", "00"}), .out = "Version: 3\nFlags: 0\n"
          "Temperatures: 1.00\nFans: 1240\nVoltages: 1.20 3.31 5.02 12.10\n"},
        {.name = "LeadingZerosAreDecimal", .argv = published({"--block-version", "010", "--fans",
          "-007"}), .out = "Version: 10\nFlags: 0\nFans: -7\n"},
        {.name = "ListsAddUp", .argv = published({"--fans", "1", "--fans", "2,3"}),
          .out = "Version: 1\nFlags: 0\nFans: 1 2 3\n"},
        {.name = "RawAtTheSizeLimit", .argv = kSnapshotOfRaw, .out = "Version: 4\nFlags: 0\n",
          .file = kLimitBlock + std::string((1 << 20) - 402, '\0')},
        {.name = "RawOverTheSizeLimit", .argv = kSnapshotOfRaw, .status = 66,
          .err = "korvalen-sim: --raw: '{file}' holds more than 1048576 bytes\n",
          .file = std::string((1 << 20) + 1, '\0')},
        {.name = "AlreadyPublished", .argv = {"{sim}", "--sample", "--", "{sim}", "--sample", "--",
          "{snapshot}"}, .status = 73,
          .err = "korvalen-sim: KVSharedMemory_QDX is already published*\n"},
        {.name = "CommandNotFound", .argv = {"{sim}", "--", "{file}-none"}, .status = 127,
          .err = "korvalen-sim: *\n"},
        {.name = "CommandNotAProgram", .argv = {"{sim}", "--", "{file}"}, .status = 126,
          .err = "korvalen-sim: *\n", .file = "plain text\n"},
        {.name = "CommandIsAFolder", .argv = {"{sim}", "--", "{folder}"}, .status = 126,
          .err = "korvalen-sim: *\n"},
        {.name = "OwnVersion", .argv = {"{sim}", "--version"},
          .out = "korvalen-sim 1.*\nMIT licence*\n*\n"},
        {.name = "HelpToFullDevice", .argv = {"{sim}", "--help"}, .status = 74,
          .err = "korvalen-sim: cannot write to standard output*\n", .sink = OutputSink::fullDevice}}),
    testing::PrintToStringParamName());

// Bad usage: status 64 and one line that names what was wrong, whatever CLI11's wording.
INSTANTIATE_TEST_SUITE_P(
    SimUsage, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        badUsage("UnknownOption", {"--bogus"}, "--bogus:"),
        badUsage("GivenTwice", {"--flags", "1", "--flags", "2"}, "--flags: given more than once"),
        badUsage("NoValue", {"--raw"}, "--raw: no value follows"),
        badUsage("StrayArgument", {"--sample", "x"}, "x:"),
        badUsage("NoCommandAfterSeparator", {"--sample", "--"}, "--:"),
        badUsage("VersionTooLarge", {"--block-version", "65536"}, "--block-version:"),
        badUsage("NegativeCount", {"--fan-count", "-1"}, "--fan-count:"),
        badUsage("LeadingSpace", {"--flags", " 7"}, "--flags:"),
        badUsage("LeadingTab", {"--fan-count", "\t7"}, "--fan-count:"),
        badUsage("LeadingCarriageReturn", {"--block-version", "\r7"}, "--block-version:"),
        badUsage("LeadingVerticalTab", {"--fans", "\v7"}, "--fans:"),
        badUsage("PlusSign", {"--flags", "+7"}, "--flags:"),
        badUsage("Hexadecimal", {"--flags", "0x10"}, "--flags:"),
        badUsage("DecimalWithSpace", {"--temperatures", " 1.5"}, "--temperatures:"),
        badUsage("ThreePlaces", {"--temperatures", "1.234"}, "--temperatures:"),
        badUsage("ScaledOverflow", {"--voltages", "21474836.48"}, "--voltages:"),
        badUsage("FanNotWhole", {"--fans", "1.5"}, "--fans:"),
        badUsage("FanOverflow", {"--fans", "2147483648"}, "--fans:"),
        badUsage("TooManyValues", {"--fans", k33Values}, "--fans:"),
        badUsage("TooManyValuesOverRepeats", {"--voltages", "1,2", "--voltages",
                 k33Values.substr(4)}, "--voltages:"),
        badUsage("EmptyItemInside", {"--fans", "1,,2"}, "--fans:"),
        badUsage("EmptyItemAtEnd", {"--fans", "1,"}, "--fans:"),
        badUsage("EmptyItemAtStart", {"--temperatures", ",5"}, "--temperatures:"),
        badUsage("EmptyRawPath", {"--raw", ""}, "--raw:"),
        badUsage("RawWithDescription", {"--raw", "x", "--sample"}, "--raw:")}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
