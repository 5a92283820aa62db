// korvalen-prometheus with the operator's sensors file: the textfile that a file gives, what
// --check prints of it, and the files it refuses, each with OUTPUT left as it was. Runs natively
// and, built for Windows, under Wine.
#include "outcome.h"
#include "prometheus_textfile.h"

namespace {

// The sensors file as {file}, read and then replaced by the textfile of the block `sim` publishes.
std::vector<std::string> written(std::vector<std::string> sim) {
  sim.insert(sim.begin(), "{sim}");
  sim.insert(sim.end(), {"--", "{prometheus}", "--sensors", "{file}", "{file}"});
  return sim;
}

// The sensors file `toml` refused by --check with `what` at "LINE:COLUMN" (or "" for the file as
// a whole): status 78, one line, and the file left as it was.
OutcomeRow refused(const char* name, const std::string& toml, const std::string& what) {
  return {.name = name,
          .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .status = 78,
          .err = "korvalen-prometheus: {file}:" + what + "\n",
          .file = toml,
          .written = toml};
}

const std::string kExample = R"([temperature.0]
name = "CPU \"Package\" \\ 1"
max = 85
crit = 95.5

[fan.1]
name = "Rear fan"
min = 300

[voltage.0]
ignore = true

[temperature.5]
name = "Beyond the count"
)";
const std::string kName = R"(name="CPU \"Package\" \\ 1"})";
std::string repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    PrometheusSensors, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "NamedIgnoredBounded", .argv = written({"--temperatures", "45.5,51", "--fans",
          "1240,980", "--voltages", "12.1"}), .file = kExample, .written = readHead(1, 0, "1") +
          series("korvalen_temp_celsius", {"{sensor=\"0\"," + kName + " 45.50", "{sensor=\"1\"} 51.00"}) +
          series("korvalen_temp_max_celsius", {"{sensor=\"0\"," + kName + " 85.00"}) +
          series("korvalen_temp_crit_celsius", {"{sensor=\"0\"," + kName + " 95.50"}) +
          series("korvalen_fan_rpm", {"{sensor=\"0\"} 1240", "{sensor=\"1\",name=\"Rear fan\"} 980"}) +
          series("korvalen_fan_min_rpm", {"{sensor=\"1\",name=\"Rear fan\"} 300"})},
        {.name = "EmptyFileChangesNothing", .argv = written({"--sample"}), .file = " ",
          .written = readTextfile(kSampleBlock, "1")},
        {.name = "EmptyFileChecked", .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .out = "no positions: every reading by its position alone\n", .file = "# none yet\n"},
        {.name = "Check", .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .out = "temperature 0 \"CPU \\\"Package\\\" \\\\ 1\" max 85.00 crit 95.50\n"
          "temperature 5 \"Beyond the count\"\nfan 1 \"Rear fan\" min 300\nvoltage 0 ignored\n",
          .file = kExample},
        {.name = "NotepadUtf8", .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .out = "fan 1 \"Rear fan\"\n", .file = "\xEF\xBB\xBF[fan.1]\r\nname = \"Rear fan\"\r\n"},
        refused("UnknownTable", "[fans.1]", "1:2: fans: unknown table: the tables are "
                "temperature, fan and voltage"),
        refused("UnknownKey", "[fan.1]\nmax = 3", "2:1: fan.1.max: unknown key: a fan takes "
                "name, ignore and min"),
        refused("PositionBeyond", "[fan.32]", "1:6: fan.32: not a position: they are 0 to 31"),
        refused("WrongType", "[fan.1]\nname = 5", "2:8: fan.1.name: not a string"),
        refused("EmptyName", "[fan.1]\nname = ''", "2:8: fan.1.name: empty"),
        refused("ControlInName", "[fan.1]\nname = \"a\\tb\"", "2:8: fan.1.name: holds a "
                "control character"),
        refused("MinAboveMax", "[voltage.1]\nmin = 12.5\nmax = 11", "1:1: voltage.1: min 12.50 "
                "is above max 11.00"),
        refused("MaxAboveCrit", "[temperature.0]\nmax = 95\ncrit = 85", "1:1: temperature.0: max "
                "95.00 is above crit 85.00"),
        refused("ThreeDecimals", "[temperature.0]\nmax = 85.125", "2:7: temperature.0.max: "
                "85.125 has more than two decimals"),
        refused("FanNotWhole", "[fan.0]\nmin = 300.5", "2:7: fan.0.min: 300.5 is not a whole "
                "number"),
        {.name = "LimitsAtTheirEdges", .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .out = "temperature 0 max 85.50 crit 95.00\nvoltage 0 min -21474836.48 max 21474836.47\n",
          .file = "temperature.0 = {max = 8.55e1, crit = 95.000}\nvoltage.0 = {min = -21474836.48, "
          "max = 21474836.47}"},
        refused("BeyondTheLargestReading", "voltage.0.max = 21474836.48", "1:17: voltage.0.max: "
                "beyond what a reading can be"),
        refused("WholeFarBeyond", "fan.0.min = 100000000001", "1:13: fan.0.min: beyond what a "
                "reading can be"),
        refused("MoreOnTheLine", "[fan.0]\nmin = 3 4", "2:9: more follows the value on its line"),
        {.name = "QuoteInFileName", .argv = {"{prometheus}", "--sensors", "{file}'q", "--check"},
          .status = 78, .err = "korvalen-prometheus: '{file}'\\''q': cannot be read: *\n"},
        refused("HeaderNotClosed", "[fan.0\nmin = 3", "1:1: a table's name not closed by ]"),
        refused("StringNotClosed", "[fan.0]\nname = \"Rear", "2:8: a string not closed"),
        refused("NotAValue", "[fan.0]\nmin = fast", "2:7: not a value"),
        refused("BadEscape", "[fan.0]\nname = \"a\\\xC3\xA9\"", "2:10: an escape that is not one"),
        refused("DefinedTwice", "[fan.0]\nmin = 3\n[fan.0]", "3:1: a table or key defined twice"),
        refused("DeepHeader", "[a" + repeated(".a", 130000) + "]", "1:8: nests deeper than a "
                "table, a position and a key"),
        refused("DeepKeys", "a" + repeated(".a", 130000) + " = 1", "1:7: nests deeper than a "
                "table, a position and a key"),
        refused("DeepArrays", "a = " + std::string(100000, '['), "1:7: nests deeper than a "
                "table, a position and a key"),
        refused("LineFeedInKey", "[fan.0]\n\"x\\ny\" = 1", "2:1: fan.0.'x'$'\\n''y': unknown key:"
                " a fan takes name, ignore and min"),
        refused("EscapeAndNulInTable", "\"\\u001b[2J\\u0000\" = 1", "1:1: ''$'\\033''[2J'$'\\000'"
                "'': unknown table: the tables are temperature, fan and voltage"),
        refused("LargeFanNotWhole", "[fan.0]\nmin = 600000.5", "2:7: fan.0.min: 600000.5 is not a "
                "whole number"),
        refused("LargeThreeDecimals", "[temperature.0]\nmax = 5000.005", "2:7: temperature.0.max:"
                " 5000.005 has more than two decimals"),
        refused("CharacterOutsideString", "a = 1\n\xEF\xBB\xBE = 1", "2:1: not a key"),
        refused("NulByte", std::string("[fan.0]\nmin = 3\0", 16), "2:8: a NUL byte, which no text "
                "holds"),
        refused("NotUtf8", "[fan.1]\nname = \"\xC3\x28\"", "2:9: not UTF-8"),
        refused("PositionWithLeadingZero", "[fan.01]", "1:6: fan.01: not a position: they are 0 "
                "to 31"),
        refused("FarBeyondWithExponent", "[temperature.0]\nmax = 1e300", "2:7: temperature.0.max: "
                "beyond what a reading can be"),
        refused("BeyondAsciiAfterLineEndingBackslash", "[fan.0]\nname = \"\"\"a\\\n  \xC3\xA9\"\"\"",
                "3:3: a character beyond ASCII right after a line-ending backslash"),
        refused("DateTime", "a=2000-01-01T:", "1:3: a date or time, which no key takes"),
        refused("LocalTime", "[fan.0]\nmin = 07:32:00", "2:7: a date or time, which no key takes"),
        refused("ReversingName", "[fan.0]\nname = \"a\xE2\x80\xAE b\"", "2:8: fan.0.name: holds "
                "U+202E, which hides or reorders the text around it"),
        refused("InvisibleName", "[fan.0]\nname = \"\xE2\x80\x8B\"", "2:8: fan.0.name: holds "
                "U+200B, which hides or reorders the text around it"),
        refused("NameOf65", "[fan.0]\nname = \"" + repeated("\xC3\xA9", 65) + "\"", "2:8: fan.0.name:"
                " longer than 64 characters"),
        {.name = "NameOf64", .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .out = "fan 0 \"" + repeated("\xC3\xA9", 64) + "\"\n",
          .file = "[fan.0]\nname = \"" + repeated("\xC3\xA9", 64) + "\""},
        refused("IgnoreNotABoolean", "[fan.0]\nignore = 1", "2:10: fan.0.ignore: not true or false"),
        refused("KindNotATable", "fan = 1", "1:7: fan: not a table"),
        refused("PositionNotATable", "[fan]\n0 = 1", "2:5: fan.0: not a table"),
        refused("LargerThanOneMiB", std::string((1 << 20) + 1, '#'), " larger than 1 MiB, which no "
                "sensors file needs"),
        {.name = "OneMiB", .argv = {"{prometheus}", "--sensors", "{file}", "--check"},
          .out = "no positions: every reading by its position alone\n", .file = std::string(1 << 20, '#')},
        refused("NotepadUnicode", std::string("\xFF\xFE[\0", 4), " not UTF-8 but UTF-16, as "
                "Notepad's \"Unicode\" saves it: save it as UTF-8"),
        {.name = "MissingFileTold", .argv = {"{sim}", "--sample", "--", "{prometheus}",
          "--sensors", "{file}-none", "{file}"}, .status = 78,
          .err = "korvalen-prometheus: {file}-none: cannot be read: *\n", .file = "old",
          .written = head(0, "0")},
        {.name = "FolderRefused", .argv = {"{prometheus}", "--sensors", "{folder}", "--check"},
          .status = 78, .err = "korvalen-prometheus: {folder}: cannot be read: not a regular "
          "file\n"}}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
