// korvalen-sensors' view and JSON for one block and one sensors file each, spelled out from the
// row's block and file.
#include <gtest/gtest.h>

#include "readings_view.h"
#include "support/block_bytes.h"
#include "support/table.h"

namespace {

struct ViewCase : TableRow {
  BlockDescription block;
  std::string sensors;  // TOML
  std::string view;
  std::string json;
};

class SensorsView : public testing::TestWithParam<ViewCase> {};

TEST_P(SensorsView, ShowsEachReading) {
  const ViewCase& row = GetParam();
  SensorsFile sensors;
  std::string problem;
  ASSERT_TRUE(parseSensorsText(row.sensors, "sensors.toml", &sensors, &problem)) << problem;
  const std::vector<std::uint8_t> bytes = encodeBlock(row.block);
  EXPECT_EQ(viewOf(SensorBlock{bytes.data()}, sensors), row.view);
  EXPECT_EQ(jsonOf(SensorBlock{bytes.data()}, sensors), row.json);
}

const std::string kNamed = R"([temperature.0]
name = "CPU Package"
max = 85
crit = 95
[fan.1]
name = "Rear fan"
min = 300
[fan.2]
ignore = true
[voltage.0]
name = "+12V"
min = 11.4
max = 12.6
[fan.5]
name = "Pump \"2\""
)";

// Every temperature from 2 to 31 ignored.
const std::string kIgnoredFrom2 = [] {
  std::string text;
  for (int i = 2; i < 32; ++i) text += "[temperature." + std::to_string(i) + "]\nignore = true\n";
  return text;
}();

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Sensors, SensorsView,
    testing::Values(
        ViewCase{"Unnamed", {.version = 65535, .flags = 7, .temperatures = {1, {-5}}, .fans = {1, {-1}}},
                 "",
                 "Korvalen block: version 65535, flags 7\n"
                 "Temperature 0:   -0.05 C\n"
                 "Fan 0:              -1 RPM\n",
                 R"({"version": 65535, "flags": 7, "temperatures": [{"sensor": 0, "value": -0.05}], )"
                 R"("fans": [{"sensor": 0, "value": -1}], "voltages": []})" "\n"},
        ViewCase{"NamedBoundedIgnored", {.version = 3, .flags = 1, .temperatures = {2, {9500, 3825}},
                 .fans = {3, {1240, 250, 0}}, .voltages = {1, {1210}}}, kNamed,
                 "Korvalen block: version 3, flags 1\n"
                 "CPU Package:     95.00 C  (max = 85.00 C, crit = 95.00 C)  ALARM\n"
                 "Temperature 1:   38.25 C\n"
                 "Fan 0:            1240 RPM\n"
                 "Rear fan:          250 RPM  (min = 300 RPM)  ALARM\n"
                 "+12V:            12.10 V  (min = 11.40 V, max = 12.60 V)\n"
                 "named but not in the block: fan 5 \"Pump \\\"2\\\"\"\n",
                 R"({"version": 3, "flags": 1, "temperatures": [{"sensor": 0, "name": "CPU Package", )"
                 R"("value": 95.00, "max": 85.00, "crit": 95.00, "alarm": true}, {"sensor": 1, )"
                 R"("value": 38.25}], "fans": [{"sensor": 0, "value": 1240}, {"sensor": 1, "name": )"
                 R"("Rear fan", "value": 250, "min": 300, "alarm": true}], "voltages": [{"sensor": )"
                 R"(0, "name": "+12V", "value": 12.10, "min": 11.40, "max": 12.60, "alarm": false}]})"
                 "\n"},
        ViewCase{"WideNamesAndValues", {.temperatures = {40, sequence(32, 0)},
                 .voltages = {1, {INT32_MIN}}}, "[temperature.0]\nname = \"Température \\\\ du cœur\"\n"
                 "[temperature.1]\nignore = true\n" + kIgnoredFrom2,
                 "Korvalen block: version 1, flags 0\n"
                 "Température \\ du cœur:          0.00 C\n"
                 "Voltage 0:              -21474836.48 V\n",
                 R"({"version": 1, "flags": 0, "temperatures": [{"sensor": 0, "name": )"
                 R"("Température \\ du cœur", "value": 0.00}], "fans": [], "voltages": [{"sensor": )"
                 R"(0, "value": -21474836.48}]})" "\n"}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
