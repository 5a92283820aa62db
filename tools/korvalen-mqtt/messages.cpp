#include "messages.h"

#include <set>

namespace {

// The object id of a reading's entity, KIND_POSITION, and of its problem sensor, with _alarm.
std::string objectIdOf(const Reading& reading) {
  return std::string(reading.kind->table) + "_" + std::to_string(reading.position);
}

// Where the config of entity `objectId`, a `component` (sensor, binary_sensor), is published.
std::string configTopic(const Node& node, const char* component, const std::string& objectId) {
  return node.discoveryPrefix + "/" + component + "/" + node.name + "/" + objectId + "/config";
}

// The pairs that every entity of the node shares: its ids, its device, when it expires.
std::string commonPairs(const Node& node, const std::string& objectId) {
  const std::string id = "korvalen_" + node.name + "_" + objectId;
  return "\"unique_id\": \"" + id + "\", \"object_id\": \"" + id +
         "\", \"expire_after\": " + std::to_string(node.expireAfter) +
         ", \"device\": {\"identifiers\": [\"korvalen_" + node.name + "\"], \"name\": \"Korvalen " +
         node.name +
         "\", \"manufacturer\": \"Korvalen\", \"model\": \"korvalen-mqtt\", \"sw_version\": \"" +
         KORVALEN_VERSION + "\"}";
}

std::string stateTopic(const Node& node, const Reading& reading) {
  return node.topicPrefix + "/" + node.name + "/" + reading.kind->table + "/" +
         std::to_string(reading.position);
}

std::string availabilityTopic(const Node& node) {
  return node.topicPrefix + "/" + node.name + "/availability";
}

// The config of `reading`'s sensor.
std::string sensorConfig(const Node& node, const Reading& reading) {
  const KindExposition& kind = *reading.kind;
  std::string config =
      "{\"name\": " + jsonString(reading.label()) + ", " + commonPairs(node, objectIdOf(reading)) +
      ", \"state_topic\": \"" + stateTopic(node, reading) + "\", \"availability_topic\": \"" +
      availabilityTopic(node) + "\", \"unit_of_measurement\": \"" + kind.homeAssistantUnit + "\"";
  if (kind.deviceClass != nullptr)
    config += std::string(", \"device_class\": \"") + kind.deviceClass + "\"";
  const bool scaled = readingKind(kind.kind).scaled;
  return config + ", \"state_class\": \"measurement\", \"suggested_display_precision\": " +
         (scaled ? "2" : "0") + "}";
}

// The config of `reading`'s problem sensor: ON while a limit is broken; the limits as attributes.
std::string alarmConfig(const Node& node, const Reading& reading) {
  const std::string topic = stateTopic(node, reading);
  return "{\"name\": " + jsonString(reading.label() + " alarm") + ", " +
         commonPairs(node, objectIdOf(reading) + "_alarm") + ", \"state_topic\": \"" + topic +
         "/alarm\", \"availability_topic\": \"" + availabilityTopic(node) +
         "\", \"device_class\": \"problem\", \"payload_on\": \"ON\", \"payload_off\": \"OFF\", "
         "\"json_attributes_topic\": \"" +
         topic + "/limits\"}";
}

// The limits of `reading`, as its problem sensor's attributes: {"max": 85.00, "crit": 95.00}.
std::string limitsOf(const Reading& reading) {
  std::string limits;
  for (const auto& [limit, value] : reading.limits())
    limits += std::string(limits.empty() ? "{" : ", ") + "\"" + limit->key + "\": " + value;
  return limits + "}";
}

// Whether `objectId` is one this node gives a reading's entity: KIND_POSITION, with _alarm or not.
bool readingObjectId(std::string objectId) {
  if (objectId.ends_with("_alarm")) objectId.resize(objectId.size() - 6);
  for (const KindExposition& kind : kExposition) {
    for (unsigned position = 0; position < kMaxReadings; ++position) {
      if (objectId == std::string(kind.table) + "_" + std::to_string(position)) return true;
    }
  }
  return false;
}

}  // namespace

const char* labelOf(RunStatus status) {
  static const char* const labels[] = {"ok", "missing", "not_ours", "not_mapped",
                                       "sensors_file_refused"};
  return labels[static_cast<int>(status)];
}

std::vector<std::string> configFilters(const Node& node) {
  return {configTopic(node, "sensor", "+"), configTopic(node, "binary_sensor", "+")};
}

std::vector<MqttMessage> messagesOf(const Node& node, RunStatus status,
                                    const std::vector<Reading>& readings,
                                    const std::map<std::string, std::string>& retainedConfigs) {
  const std::string statusTopic = node.topicPrefix + "/" + node.name + "/status";
  // Not tied to the availability, so that it speaks when the readings cannot.
  std::vector<MqttMessage> messages{{configTopic(node, "sensor", "status"),
                                     "{\"name\": \"Korvalen status\", " +
                                         commonPairs(node, "status") + ", \"state_topic\": \"" +
                                         statusTopic + "\", \"entity_category\": \"diagnostic\"}",
                                     true}};
  const bool ok = status == RunStatus::ok;
  std::set<std::string> current;
  for (const Reading& reading : ok ? readings : std::vector<Reading>{}) {
    const std::string id = objectIdOf(reading);
    messages.push_back({configTopic(node, "sensor", id), sensorConfig(node, reading), true});
    current.insert(messages.back().topic);
    if (!reading.bounded()) continue;
    messages.push_back(
        {configTopic(node, "binary_sensor", id + "_alarm"), alarmConfig(node, reading), true});
    current.insert(messages.back().topic);
  }
  // A reading gone loses its entities, but nothing is removed that this node did not publish:
  // a topic of a reading's shape whose config names this node's own unique id.
  for (const auto& [topic, payload] : ok ? retainedConfigs : std::map<std::string, std::string>{}) {
    const std::size_t end = topic.rfind("/config"), begin = topic.rfind('/', end - 1) + 1;
    const std::string objectId = topic.substr(begin, end - begin);
    const std::string ownId = "\"unique_id\": \"korvalen_" + node.name + "_" + objectId + "\"";
    if (current.count(topic) == 0 && readingObjectId(objectId) &&
        payload.find(ownId) != std::string::npos)
      messages.push_back({topic, "", true});
  }
  messages.push_back({availabilityTopic(node), ok ? "online" : "offline", true});
  for (const Reading& reading : ok ? readings : std::vector<Reading>{}) {
    const std::string topic = stateTopic(node, reading);
    messages.push_back({topic, reading.value, false});
    if (!reading.bounded()) continue;
    messages.push_back({topic + "/alarm", reading.alarm ? "ON" : "OFF", false});
    messages.push_back({topic + "/limits", limitsOf(reading), false});
  }
  messages.push_back({statusTopic, labelOf(status), true});
  return messages;
}
