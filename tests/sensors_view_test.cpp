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
        // Each limit exactly at its reading, and one step beyond: above max, at or above crit,
        // below min.
        ViewCase{"AtTheirLimits", {.temperatures = {4, {9500, 9499, 8500, 8501}}, .fans = {2, {300, 299}},
                 .voltages = {4, {1140, 1139, 1260, 1261}}}, "temperature.0 = {crit = 95, name = "
                 "'CPU 温度'}\ntemperature.1.crit = 95\ntemperature.2.max = 85\ntemperature.3.max = 85\n"
                 "fan.0.min = 300\nfan.1.min = 300\nvoltage.0.min = 11.4\nvoltage.1.min = 11.4\n"
                 "voltage.2.max = 12.6\nvoltage.3.max = 12.6\n",
                 "Korvalen block: version 1, flags 0\n"
                 "CPU 温度:        95.00 C  (crit = 95.00 C)  ALARM\n"
                 "Temperature 1:   94.99 C  (crit = 95.00 C)\n"
                 "Temperature 2:   85.00 C  (max = 85.00 C)\n"
                 "Temperature 3:   85.01 C  (max = 85.00 C)  ALARM\n"
                 "Fan 0:             300 RPM  (min = 300 RPM)\n"
                 "Fan 1:             299 RPM  (min = 300 RPM)  ALARM\n"
                 "Voltage 0:       11.40 V  (min = 11.40 V)\n"
                 "Voltage 1:       11.39 V  (min = 11.40 V)  ALARM\n"
                 "Voltage 2:       12.60 V  (max = 12.60 V)\n"
                 "Voltage 3:       12.61 V  (max = 12.60 V)  ALARM\n",
                 R"({"version": 1, "flags": 0, "temperatures": [{"sensor": 0, "name": "CPU 温度", )"
                 R"("value": 95.00, "crit": 95.00, "alarm": true}, {"sensor": 1, "value": 94.99, "crit": )"
                 R"(95.00, "alarm": false}, {"sensor": 2, "value": 85.00, "max": 85.00, "alarm": false}, )"
                 R"({"sensor": 3, "value": 85.01, "max": 85.00, "alarm": true}], "fans": [{"sensor": 0, )"
                 R"("value": 300, "min": 300, "alarm": false}, {"sensor": 1, "value": 299, "min": 300, )"
                 R"("alarm": true}], "voltages": [{"sensor": 0, "value": 11.40, "min": 11.40, "alarm": )"
                 R"(false}, {"sensor": 1, "value": 11.39, "min": 11.40, "alarm": true}, {"sensor": 2, )"
                 R"("value": 12.60, "max": 12.60, "alarm": false}, {"sensor": 3, "value": 12.61, "max": )"
                 R"(12.60, "alarm": true}]})" "\n"},
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
