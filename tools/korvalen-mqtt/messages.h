// What korvalen-mqtt publishes for one run, as Home Assistant's MQTT discovery reads it today: a
// retained config for each entity, and the states. Made here from what the run found alone; the
// broker is broker.h's.
#ifndef KORVALEN_MQTT_MESSAGES_H
#define KORVALEN_MQTT_MESSAGES_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "readings.h"

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retained;
  unsigned expiry = 0;  // seconds after which the broker forgets it (MQTT v5), or 0: never
};

// Where a node publishes: NODE, the discovery prefix (homeassistant), the prefix of its own
// topics (korvalen), and how long Home Assistant keeps a state before it shows unavailable.
struct Node {
  std::string name;
  std::string discoveryPrefix;
  std::string topicPrefix;
  unsigned expireAfter;
};

// What a run found, as the status sensor tells it: ok, a reason the block was not read (the
// textfile's down reasons, in their order), or sensors_file_refused.
enum class RunStatus { ok, missing, notOurs, notMapped, sensorsFileRefused };
inline constexpr RunStatus kRunStatuses[] = {RunStatus::ok, RunStatus::missing, RunStatus::notOurs,
                                             RunStatus::notMapped, RunStatus::sensorsFileRefused};
RunStatus runStatusOf(DownReason reason);
const char* labelOf(RunStatus status);

// A config that the broker keeps under the node's filters, at most this long, is read; a longer
// one is neither kept nor parsed.
inline constexpr std::size_t kMaxConfigBytes = 64 * 1024;

// The topic filters of this node's entity configs, whose retained messages say what an earlier
// run published.
std::vector<std::string> configFilters(const Node& node);

// Every topic at which the node may publish a config: the status sensor's and each reading's.
std::set<std::string> configTopics(const Node& node);

// The topic of run `run`'s own, which it publishes to and reads to learn what came before.
std::string runTopic(const Node& node, unsigned long run);

// The length of the longest topic that the node's runs publish to.
std::size_t longestTopic(const Node& node);

// The messages of a run that found `status`, in the order they go out: the status sensor's
// config; when the readings were read (ok), each reading's config and, where it has a limit, its
// problem sensor's (each config only where the broker does not keep it as it is already), then an empty retained message for each of `retainedConfigs` (topic and
// payload, as the broker kept them) at a reading's topic that this run no longer has and whose
// config, parsed, names this node's own unique id for that topic; the availability (online when
// ok); each reading's state, alarm and limits; the status. The availability and the status are
// retained, and expire with the readings.
std::vector<MqttMessage> messagesOf(const Node& node, RunStatus status,
                                    const std::vector<Reading>& readings,
                                    const std::map<std::string, std::string>& retainedConfigs);

#endif  // KORVALEN_MQTT_MESSAGES_H
