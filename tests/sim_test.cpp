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
    testing::Values(
        OutcomeRow{"Sample", published({"--sample"}), 0, kSampleReport, ""},
        OutcomeRow{"Described", published({"--block-version", "65535", "--flags", "9",
                   "--temperatures", "-0.05,12,3.5", "--fans", "-1,2000", "--voltages", "1",
                   "--voltage-count", "0"}), 0,
                   "Version: 65535\nFlags: 9\nTemperatures: -0.05 12.00 3.50\nFans: -1 2000\n", ""},
        OutcomeRow{"CountsBeyondValues", published({"--fans", "7", "--fan-count", "40",
                   "--temperature-count", "2"}), 0, "Version: 1\nFlags: 0\nTemperatures: 0.00 "
                   "0.00\nFans: 7" + valuesText(std::vector<std::int32_t>(31, 0), false) + "\n", ""},
        OutcomeRow{"EmptyBlock", published({}), 0, "Version: 1\nFlags: 0\n", ""},
        OutcomeRow{"SampleAmendedWhereverItStands", published({"--temperatures", "1",
                   "--fan-count", "1", "--sample", "--flags", "00"}), 0, "Version: 3\nFlags: 0\n"
                   "Temperatures: 1.00\nFans: 1240\nVoltages: 1.20 3.31 5.02 12.10\n", ""},
        OutcomeRow{"LeadingZerosAreDecimal", published({"--block-version", "010", "--fans", "-007"}),
                   0, "Version: 10\nFlags: 0\nFans: -7\n", ""},
        OutcomeRow{"ListsAddUp", published({"--fans", "1", "--fans", "2,3"}), 0,
                   "Version: 1\nFlags: 0\nFans: 1 2 3\n", ""},
        OutcomeRow{"RawAtTheSizeLimit", kSnapshotOfRaw, 0, "Version: 4\nFlags: 0\n", "", {},
                   kLimitBlock + std::string((1 << 20) - 402, '\0')},
        OutcomeRow{"RawOverTheSizeLimit", kSnapshotOfRaw, 66, "",
                   "korvalen-sim: --raw: '{file}' holds more than 1048576 bytes\n", {},
                   std::string((1 << 20) + 1, '\0')},
        OutcomeRow{"AlreadyPublished", {"{sim}", "--sample", "--", "{sim}", "--sample", "--",
                   "{snapshot}"}, 73, "", "korvalen-sim: KVSharedMemory_QDX is already published*\n"},
        OutcomeRow{"CommandNotFound", {"{sim}", "--", "{file}-none"}, 127, "", "korvalen-sim: *\n"},
        OutcomeRow{"CommandNotAProgram", {"{sim}", "--", "{file}"}, 126, "", "korvalen-sim: *\n", {},
                   "plain text\n"},
        OutcomeRow{"CommandIsAFolder", {"{sim}", "--", "{folder}"}, 126, "", "korvalen-sim: *\n"},
        OutcomeRow{"OwnVersion", {"{sim}", "--version"}, 0, "korvalen-sim 1.*\nMIT licence*\n*\n", ""},
        OutcomeRow{"HelpToFullDevice", {"{sim}", "--help"}, 74, "",
                   "korvalen-sim: cannot write to standard output*\n", OutputSink::fullDevice}),
    testing::PrintToStringParamName());

// Bad usage: status 64 and one line that names what was wrong, whatever CLI11's wording.
INSTANTIATE_TEST_SUITE_P(
    SimUsage, Outcome,
    testing::Values(
        OutcomeRow{"UnknownOption", {"{sim}", "--bogus"}, 64, "", usage("--bogus:")},
        OutcomeRow{"GivenTwice", {"{sim}", "--flags", "1", "--flags", "2"}, 64, "",
                   usage("--flags: given more than once")},
        OutcomeRow{"NoValue", {"{sim}", "--raw"}, 64, "", usage("--raw: no value follows")},
        OutcomeRow{"StrayArgument", {"{sim}", "--sample", "x"}, 64, "", usage("x:")},
        OutcomeRow{"NoCommandAfterSeparator", {"{sim}", "--sample", "--"}, 64, "", usage("--:")},
        OutcomeRow{"VersionTooLarge", {"{sim}", "--block-version", "65536"}, 64, "",
                   usage("--block-version:")},
        OutcomeRow{"NegativeCount", {"{sim}", "--fan-count", "-1"}, 64, "", usage("--fan-count:")},
        OutcomeRow{"LeadingSpace", {"{sim}", "--flags", " 7"}, 64, "", usage("--flags:")},
        OutcomeRow{"LeadingTab", {"{sim}", "--fan-count", "\t7"}, 64, "", usage("--fan-count:")},
        OutcomeRow{"LeadingCarriageReturn", {"{sim}", "--block-version", "\r7"}, 64, "",
                   usage("--block-version:")},
        OutcomeRow{"LeadingVerticalTab", {"{sim}", "--fans", "\v7"}, 64, "", usage("--fans:")},
        OutcomeRow{"PlusSign", {"{sim}", "--flags", "+7"}, 64, "", usage("--flags:")},
        OutcomeRow{"Hexadecimal", {"{sim}", "--flags", "0x10"}, 64, "", usage("--flags:")},
        OutcomeRow{"DecimalWithSpace", {"{sim}", "--temperatures", " 1.5"}, 64, "",
                   usage("--temperatures:")},
        OutcomeRow{"ThreePlaces", {"{sim}", "--temperatures", "1.234"}, 64, "",
                   usage("--temperatures:")},
        OutcomeRow{"ScaledOverflow", {"{sim}", "--voltages", "21474836.48"}, 64, "",
                   usage("--voltages:")},
        OutcomeRow{"FanNotWhole", {"{sim}", "--fans", "1.5"}, 64, "", usage("--fans:")},
        OutcomeRow{"FanOverflow", {"{sim}", "--fans", "2147483648"}, 64, "", usage("--fans:")},
        OutcomeRow{"TooManyValues", {"{sim}", "--fans", k33Values}, 64, "", usage("--fans:")},
        OutcomeRow{"TooManyValuesOverRepeats", {"{sim}", "--voltages", "1,2", "--voltages",
                   k33Values.substr(4)}, 64, "", usage("--voltages:")},
        OutcomeRow{"EmptyItemInside", {"{sim}", "--fans", "1,,2"}, 64, "", usage("--fans:")},
        OutcomeRow{"EmptyItemAtEnd", {"{sim}", "--fans", "1,"}, 64, "", usage("--fans:")},
        OutcomeRow{"EmptyItemAtStart", {"{sim}", "--temperatures", ",5"}, 64, "",
                   usage("--temperatures:")},
        OutcomeRow{"EmptyRawPath", {"{sim}", "--raw", ""}, 64, "", usage("--raw:")},
        OutcomeRow{"RawWithDescription", {"{sim}", "--raw", "x", "--sample"}, 64, "",
                   usage("--raw:")}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
