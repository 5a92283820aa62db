#include "messages.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <span>

namespace {

// Objects keep their keys in the order written, so that a config reads as it is built here.
using Json = nlohmann::ordered_json;

static_assert(static_cast<int>(RunStatus::missing) == static_cast<int>(DownReason::missing) + 1 &&
              static_cast<int>(RunStatus::notMapped) ==
                  static_cast<int>(DownReason::notMapped) + 1);

// An entity of the node: the component it is (sensor, binary_sensor) and its object id.
struct Entity {
  const char* component;
  std::string objectId;
};

// A reading's sensor, KIND_POSITION, and its problem sensor, KIND_POSITION_alarm.
Entity sensorOf(const KindExposition& kind, unsigned position) {
  return {"sensor", std::string(kind.table) + "_" + std::to_string(position)};
}
Entity alarmOf(const KindExposition& kind, unsigned position) {
  return {"binary_sensor", sensorOf(kind, position).objectId + "_alarm"};
}
const Entity kStatusEntity{"sensor", "status"};

// Where the config of `entity` is published.
std::string configTopic(const Node& node, const Entity& entity) {
  return node.discoveryPrefix + "/" + entity.component + "/" + node.name + "/" + entity.objectId +
         "/config";
}

// What a config's unique id is, for entity `objectId` of the node.
std::string uniqueIdOf(const Node& node, const std::string& objectId) {
  return "korvalen_" + node.name + "_" + objectId;
}

// What every entity of the node opens with: its name and ids, the machine it belongs to (the
// device), the program that publishes it (the origin), when its state expires.
Json entityOf(const Node& node, const Entity& entity, const std::string& name) {
  const std::string id = uniqueIdOf(node, entity.objectId);
  Json config = Json::object();
  config["name"] = name;
  config["unique_id"] = id;
  config["default_entity_id"] = std::string(entity.component) + "." + id;
  config["device"] = {{"identifiers", {"korvalen_" + node.name}},
                      {"name", "Korvalen " + node.name}};
  config["origin"] = {{"name", "korvalen-mqtt"}, {"sw_version", KORVALEN_VERSION}};
  config["expire_after"] = node.expireAfter;
  return config;
}

// `json` as a payload. Every text in it is UTF-8 (the sensors file's names and the command line's
// prefixes are checked), so nothing is replaced.
std::string payloadOf(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
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
  Json config = entityOf(node, sensorOf(kind, reading.position), reading.label());
  config["state_topic"] = stateTopic(node, reading);
  config["availability_topic"] = availabilityTopic(node);
  config["unit_of_measurement"] = kind.homeAssistantUnit;
  if (kind.deviceClass != nullptr) config["device_class"] = kind.deviceClass;
  config["state_class"] = "measurement";
  config["suggested_display_precision"] = readingKind(kind.kind).scaled ? 2 : 0;
  return payloadOf(config);
}

// The config of `reading`'s problem sensor: ON while a limit is broken; the limits as attributes.
std::string alarmConfig(const Node& node, const Reading& reading) {
  const std::string topic = stateTopic(node, reading);
  Json config =
      entityOf(node, alarmOf(*reading.kind, reading.position), reading.label() + " alarm");
  config["state_topic"] = topic + "/alarm";
  config["availability_topic"] = availabilityTopic(node);
  config["device_class"] = "problem";
  config["payload_on"] = "ON";
  config["payload_off"] = "OFF";
  config["json_attributes_topic"] = topic + "/limits";
  return payloadOf(config);
}

// The status sensor's config: one of the run's statuses, not tied to the availability, so that
// it speaks when the readings cannot.
std::string statusConfig(const Node& node, const std::string& statusTopic) {
  Json config = entityOf(node, kStatusEntity, "Status");
  config["state_topic"] = statusTopic;
  config["device_class"] = "enum";
  config["options"] = Json::array();
  for (const RunStatus status : kRunStatuses) config["options"].push_back(labelOf(status));
  config["entity_category"] = "diagnostic";
  return payloadOf(config);
}

// The limits of `reading`, as its problem sensor's attributes: {"max": 85.00, "crit": 95.00},
// each number as the report writes it.
std::string limitsOf(const Reading& reading) {
  std::string limits;
  for (const auto& [limit, value] : reading.limits())
    limits += std::string(limits.empty() ? "{" : ", ") + "\"" + limit->key + "\": " + value;
  return limits + "}";
}

// Whether `payload` is a config of this node's, for entity `objectId`: a JSON object whose own
// unique_id says so. Anything else (not JSON, another program's, this id nested deeper) is not.
bool ownConfig(const Node& node, const std::string& objectId, const std::string& payload) {
  const Json config = Json::parse(payload, nullptr, false);
  if (!config.is_object()) return false;
  const auto id = config.find("unique_id");
  return id != config.end() && id->is_string() && *id == uniqueIdOf(node, objectId);
}

}  // namespace

RunStatus runStatusOf(DownReason reason) {
  return static_cast<RunStatus>(static_cast<int>(reason) + 1);
}

const char* labelOf(RunStatus status) {
  if (status == RunStatus::ok) return "ok";
  if (status == RunStatus::sensorsFileRefused) return "sensors_file_refused";
  return labelOf(static_cast<DownReason>(static_cast<int>(status) - 1));
}

std::vector<std::string> configFilters(const Node& node) {
  return {configTopic(node, {"sensor", "+"}), configTopic(node, {"binary_sensor", "+"})};
}

std::set<std::string> configTopics(const Node& node) {
  std::set<std::string> topics{configTopic(node, kStatusEntity)};
  for (const KindExposition& kind : kExposition) {
    for (unsigned position = 0; position < kMaxReadings; ++position) {
      topics.insert(configTopic(node, sensorOf(kind, position)));
      topics.insert(configTopic(node, alarmOf(kind, position)));
    }
  }
  return topics;
}

std::string runTopic(const Node& node, unsigned long run) {
  return node.topicPrefix + "/" + node.name + "/run/" + std::to_string(run);
}

std::size_t longestTopic(const Node& node) {
  const KindExposition& longest = kExposition[0];  // "temperature", the longest table's name
  const Reading reading{&longest, kMaxReadings - 1, nullptr, ""};
  return std::max({configTopic(node, alarmOf(longest, kMaxReadings - 1)).size(),
                   (stateTopic(node, reading) + "/limits").size(), availabilityTopic(node).size(),
                   runTopic(node, 0xFFFFFFFFul).size()});
}

std::vector<MqttMessage> messagesOf(const Node& node, RunStatus status,
                                    const std::vector<Reading>& readings,
                                    const std::map<std::string, std::string>& retainedConfigs) {
  const std::string statusTopic = node.topicPrefix + "/" + node.name + "/status";
  std::vector<MqttMessage> messages;
  std::set<std::string> current;
  // A config goes out unless the broker keeps it as it is already: it is retained.
  const auto config = [&](const std::string& topic, const std::string& payload) {
    current.insert(topic);
    const auto kept = retainedConfigs.find(topic);
    if (kept == retainedConfigs.end() || kept->second != payload)
      messages.push_back({topic, payload, true});
  };
  config(configTopic(node, kStatusEntity), statusConfig(node, statusTopic));
  const bool ok = status == RunStatus::ok;
  for (const Reading& reading : ok ? readings : std::vector<Reading>{}) {
    config(configTopic(node, sensorOf(*reading.kind, reading.position)),
           sensorConfig(node, reading));
    if (reading.bounded())
      config(configTopic(node, alarmOf(*reading.kind, reading.position)),
             alarmConfig(node, reading));
  }
  // A reading gone loses its entities, but nothing is removed that this node did not publish:
  // only a reading's own topic, whose config names this node's unique id for it.
  for (const KindExposition& kind :
       ok ? std::span(kExposition) : std::span<const KindExposition>()) {
    for (unsigned position = 0; position < kMaxReadings; ++position) {
      for (const Entity& entity : {sensorOf(kind, position), alarmOf(kind, position)}) {
        const std::string topic = configTopic(node, entity);
        const auto kept = retainedConfigs.find(topic);
        if (kept != retainedConfigs.end() && current.count(topic) == 0 &&
            ownConfig(node, entity.objectId, kept->second))
          messages.push_back({topic, "", true});
      }
    }
  }
  messages.push_back({availabilityTopic(node), ok ? "online" : "offline", true, node.expireAfter});
  for (const Reading& reading : ok ? readings : std::vector<Reading>{}) {
    const std::string topic = stateTopic(node, reading);
    messages.push_back({topic, reading.value, false});
    if (!reading.bounded()) continue;
    messages.push_back({topic + "/alarm", reading.alarm ? "ON" : "OFF", false});
    messages.push_back({topic + "/limits", limitsOf(reading), false});
  }
  messages.push_back({statusTopic, labelOf(status), true, node.expireAfter});
  return messages;
}
