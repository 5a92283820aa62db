// korvalen-mqtt's messages as Home Assistant reads them: which retained configs a run removes,
// and what its status sensor says for each way a run ends.
#include <gtest/gtest.h>

#include "messages.h"
#include "support/table.h"

namespace {

const Node kNode{"n1", "ha", "kv", 180};

// A run that read fan 0 alone, with the broker keeping `retained` (topic and payload): the
// topics it empties.
struct RemovalCase : TableRow {
  RunStatus status;
  std::map<std::string, std::string> retained;
  std::vector<std::string> removed;
};

class Removal : public testing::TestWithParam<RemovalCase> {};

TEST_P(Removal, EmptiesOnlyItsOwnGoneConfigs) {
  const RemovalCase& row = GetParam();
  const SensorSettings settings;
  const std::vector<Reading> readings{{&kExposition[1], 0, &settings, "1240"}};
  std::vector<std::string> removed;
  for (const MqttMessage& message : messagesOf(kNode, row.status, readings, row.retained)) {
    if (message.payload.empty()) removed.push_back(message.topic);
  }
  EXPECT_EQ(removed, row.removed);
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, Removal,
    testing::Values(
        RemovalCase{"OwnGoneReadingAndAlarm",
                    RunStatus::ok,
                    {{"ha/sensor/n1/fan_1/config", R"({"unique_id": "korvalen_n1_fan_1"})"},
                     {"ha/binary_sensor/n1/voltage_31_alarm/config",
                      R"({"name": "x", "unique_id": "korvalen_n1_voltage_31_alarm"})"}},
                    {"ha/sensor/n1/fan_1/config", "ha/binary_sensor/n1/voltage_31_alarm/config"}},
        RemovalCase{"CurrentReadingKept",
                    RunStatus::ok,
                    {{"ha/sensor/n1/fan_0/config", R"({"unique_id": "korvalen_n1_fan_0"})"}},
                    {}},
        RemovalCase{
            "OthersKept",
            RunStatus::ok,
            {{"ha/sensor/n1/fan_1/config", R"({"unique_id": "someone_else"})"},
             {"ha/sensor/n1/fan_2/config",
              R"({"unique_id": "x", "attributes": {"unique_id": "korvalen_n1_fan_2"}})"},
             {"ha/sensor/n1/fan_3/config", R"(not JSON "unique_id": "korvalen_n1_fan_3")"},
             {"ha/sensor/n1/fan_4/config", R"({"unique_id": ["korvalen_n1_fan_4"]})"},
             {"ha/sensor/n1/fan_5/config", R"(["korvalen_n1_fan_5"])"},
             {"ha/sensor/n1/fan_6/config", R"({"unique_id": "korvalen_n1_fan_7"})"},
             {"ha/sensor/n1/fan_1_alarm/config", R"({"unique_id": "korvalen_n1_fan_1_alarm"})"},
             {"ha/sensor/n1/fan_32/config", R"({"unique_id": "korvalen_n1_fan_32"})"},
             {"ha/sensor/n1/extra/config", R"({"unique_id": "korvalen_n1_extra"})"},
             {"ha/sensor/n2/fan_1/config", R"({"unique_id": "korvalen_n1_fan_1"})"}},
            {}},
        RemovalCase{"NoneWhenNotRead",
                    RunStatus::missing,
                    {{"ha/sensor/n1/fan_1/config", R"({"unique_id": "korvalen_n1_fan_1"})"}},
                    {}}),
    testing::PrintToStringParamName());

// A config goes out where the broker keeps none, or another, at its topic; not where it keeps the
// same: the retained one serves.
TEST(Configs, GoOutOnlyWhereTheBrokerKeepsNoneAlike) {
  const SensorSettings settings;
  const std::vector<Reading> readings{{&kExposition[1], 0, &settings, "1240"}};
  const auto published = [&](const std::string& kept) {
    const std::map<std::string, std::string> retained{{"ha/sensor/n1/fan_0/config", kept}};
    std::size_t count = 0;
    for (const MqttMessage& message : messagesOf(kNode, RunStatus::ok, readings, retained))
      count += message.topic == "ha/sensor/n1/fan_0/config";
    return count;
  };
  const std::string current =
      R"({"name":"Fan 0","unique_id":"korvalen_n1_fan_0","default_entity_id":"sensor.korvalen_n1_fan_0",)"
      R"("device":{"identifiers":["korvalen_n1"],"name":"Korvalen n1"},"origin":{"name":"korvalen-mqtt",)"
      R"("sw_version":")" KORVALEN_VERSION R"("},"expire_after":180,"state_topic":"kv/n1/fan/0",)"
      R"("availability_topic":"kv/n1/availability","unit_of_measurement":"rpm",)"
      R"("state_class":"measurement","suggested_display_precision":0})";
  EXPECT_EQ(published(current), 0u);
  EXPECT_EQ(published(current + " "), 1u);
}

// The status sensor's state, last of a run's messages, for each way the run ends.
struct StatusCase : TableRow {
  RunStatus status;
  const char* label;
};

class Status : public testing::TestWithParam<StatusCase> {};

TEST_P(Status, IsTheLastMessage) {
  const StatusCase& row = GetParam();
  const std::vector<MqttMessage> messages = messagesOf(kNode, row.status, {}, {});
  EXPECT_EQ(messages.back().topic, "kv/n1/status");
  EXPECT_EQ(messages.back().payload, row.label);
  EXPECT_EQ(messages.back().expiry, 180u);
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, Status,
    testing::Values(StatusCase{"Read", RunStatus::ok, "ok"},
                    StatusCase{"Missing", runStatusOf(DownReason::missing), "missing"},
                    StatusCase{"NotOurs", runStatusOf(DownReason::notOurs), "not_ours"},
                    StatusCase{"NotMapped", runStatusOf(DownReason::notMapped), "not_mapped"},
                    StatusCase{"SensorsFileRefused", RunStatus::sensorsFileRefused,
                               "sensors_file_refused"}),
    testing::PrintToStringParamName());

}  // namespace
