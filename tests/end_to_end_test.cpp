// korvalen-snapshot as its users run it, with korvalen-sim publishing the block. Runs natively
// and, built for Windows, under Wine.
#include <string>

#include "outcome.h"
#include "support/block_bytes.h"

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
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "MissingBlock", .argv = {"{snapshot}"}, .status = 1, .err = kOpenError},
        {.name = "MissingBlockWithArguments", .argv = {"{snapshot}", "--help"}, .status = 1,
          .err = kOpenError},
        {.name = "ArgumentsChangeNothing", .argv = {"{sim}", "--sample", "--", "{snapshot}",
          "--help", "-v", "x y", ""}, .out = kSampleReport},
        {.name = "RawWholeRecord", .argv = kSnapshotOfRaw, .out = kRawReport, .file = kRawBytes},
        {.name = "RawLargerThanRecord", .argv = kSnapshotOfRaw, .out = kRawReport, .file = kRawBytes
          + std::string(5000, '\x7f')},
        {.name = "RawOneByteShort", .argv = kSnapshotOfRaw, .status = 2, .err = kMapError,
          .file = kRawBytes.substr(0, 401)},
        {.name = "RawOneByte", .argv = kSnapshotOfRaw, .status = 2, .err = kMapError,
          .file = "\x01"},
        {.name = "BlockThatRefusesReaders", .argv = {"{unprivileged}", "{sim}", "--refuse-readers",
          "--sample", "--", "{snapshot}"}, .status = 1, .err = kOpenError},
        {.name = "ReportToNullDevice", .argv = kSnapshotOfSample, .sink = OutputSink::nullDevice},
        {.name = "ReportToFullDevice", .argv = kSnapshotOfSample, .status = 3, .err = kWriteError,
          .sink = OutputSink::fullDevice},
        {.name = "ReportToClosedPipe", .argv = kSnapshotOfSample, .status = 3, .err = kWriteError,
          .sink = OutputSink::closedPipe},
        {.name = "ReportWithoutStandardOutput", .argv = kSnapshotOfSample, .status = 3,
          .err = kWriteError, .sink = OutputSink::closed}}),
    testing::PrintToStringParamName());

// korvalen-sensors reads the same block with the same statuses, and says which it was; the view
// and the JSON themselves stand in sensors_view_test.cpp.
INSTANTIATE_TEST_SUITE_P(
    Sensors, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "Sample", .argv = {"{sim}", "--sample", "--", "{sensors}"},
          .out = "Korvalen block: version 3, flags 1\nTemperature 0:   45.50 C\n*\n*\n*\n"
          "Fan 0:            1240 RPM\n*\n*\n*\n*\n*\nVoltage 3:       12.10 V\n"},
        {.name = "MissingBlock", .argv = {"{sensors}", "--json"}, .status = 1,
          .err = "korvalen-sensors: no Korvalen block: the monitor is not running\n"},
        {.name = "BlockThatRefusesReaders", .argv = {"{unprivileged}", "{sim}", "--refuse-readers",
          "--sample", "--", "{sensors}"}, .status = 1,
          .err = "korvalen-sensors: the Korvalen block is not ours to read: *\n"},
        {.name = "BlockTooSmall", .argv = {"{sim}", "--raw", "{file}", "--", "{sensors}"},
          .status = 2, .err = "korvalen-sensors: the Korvalen block cannot be mapped\n",
          .file = kRawBytes.substr(0, 401)},
        {.name = "JsonToFullDevice", .argv = {"{sim}", "--sample", "--", "{sensors}", "--json"},
          .status = 3, .err = "korvalen-sensors: cannot write to standard output: *\n",
          .sink = OutputSink::fullDevice},
        {.name = "SensorsFileRefused", .argv = {"{sim}", "--sample", "--", "{sensors}", "--sensors",
          "{file}"}, .status = 78, .err = "korvalen-sensors: {file}:1:2: fans: unknown table: the "
          "tables are temperature, fan and voltage\n", .file = "[fans.0]"},
        {.name = "EmptySensorsFileName", .argv = {"{sensors}", "--sensors", ""}, .status = 64,
          .err = "korvalen-sensors: --sensors: the file name is empty\n*\n"},
        {.name = "UnknownOption", .argv = {"{sensors}", "--all"}, .status = 64,
          .err = "korvalen-sensors: --all: no such option\n*\n"},
        {.name = "OwnVersion", .argv = {"{sensors}", "--version"},
          .out = "korvalen-sensors 1.*\nMIT licence*\n*\n"}}),
    testing::PrintToStringParamName());

// korvalen-mqtt's HOST[:PORT], each port at its edges (where no broker listens: status 69), a
// line that no address can split, and the texts that MQTT cannot carry, each refused before a
// connection; its broker stands in shell/mqtt.sh.
OutcomeRow address(const char* name, const std::string& given, int status, const std::string& err) {
  return {.name = name, .argv = {"{mqtt}", given}, .status = status, .err = "korvalen-mqtt: " + err};
}
OutcomeRow option(const char* name, const char* option, const std::string& value,
                  const std::string& err) {
  return {.name = name, .argv = {"{mqtt}", option, value, "--username", "u", "127.0.0.1:1"},
          .status = 64, .err = "korvalen-mqtt: " + std::string(option) + ": " + err + "\n*\n"};
}
INSTANTIATE_TEST_SUITE_P(
    Mqtt, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        address("PortZero", "h:0", 64, "h:0: the port is not 1 to 65535\n*\n"),
        address("PortOne", "127.0.0.1:1", 69, "127.0.0.1:1: cannot connect: *\n"),
        address("PortAtMost", "127.0.0.1:65535", 69, "127.0.0.1:65535: cannot connect: *\n"),
        address("PortBeyond", "h:65536", 64, "h:65536: the port is not 1 to 65535\n*\n"),
        address("PortNotANumber", "h:1x", 64, "h:1x: the port is not 1 to 65535\n*\n"),
        address("NoPort", "h:", 64, "h:: no port\n*\n"),
        address("NoHost", ":1883", 64, ":1883: no host\n*\n"),
        address("Ipv6WithPort", "[::1]:65535", 69, "[::1]:65535: cannot connect: *\n"),
        address("Ipv6NotClosed", "[::1:1883", 64, "[::1:1883: an IPv6 address not closed by ]\n*\n"),
        address("MoreAfterIpv6", "[::1]1883", 64, "[::1]1883: more follows the IPv6 address\n*\n"),
        address("LineFeedInHost", "a\nb", 64, "'a'$'\\n''b': not a host: it holds a space or a "
                "control character\n*\n"),
        address("LineFeedInOption", "--a\nb", 64, "'--a'$'\\n''b': no such option\n*\n"),
        option("PrefixWithWildcard", "--topic-prefix", "k/+", "not a topic's levels (no +, # or "
               "empty level)"),
        option("PrefixOfTheBroker", "--discovery-prefix", "$SYS", "a topic beginning with $ is "
               "the broker's own"),
        option("PrefixNotUtf8", "--topic-prefix", "k\xff", "not UTF-8 without control characters"),
        option("PrefixWithControl", "--discovery-prefix", "h\x7f", "not UTF-8 without control "
               "characters"),
        option("UserWithControl", "--username", "u\x01", "not UTF-8 without control characters"),
        option("PasswordFileUnnamed", "--password-file", "", "the file name is empty"),
        {.name = "PasswordFileWithoutUser", .argv = {"{mqtt}", "--password-file", "f", "h"},
          .status = 64, .err = "korvalen-mqtt: --password-file: no --username to go with it\n*\n"}}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
