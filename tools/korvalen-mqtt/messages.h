// What korvalen-mqtt publishes for one run, as Home Assistant's MQTT discovery reads it: a
// retained config for each entity, and the states. Made here from what the run found alone; the
// broker is broker.h's.
#ifndef KORVALEN_MQTT_MESSAGES_H
#define KORVALEN_MQTT_MESSAGES_H

#include <map>
#include <string>
#include <vector>

#include "readings.h"

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retained;
};

// Where a node publishes: NODE, the discovery prefix (homeassistant), the prefix of its own
// topics (korvalen), and how long Home Assistant keeps a state before it shows unavailable.
struct Node {
  std::string name;
  std::string discoveryPrefix;
  std::string topicPrefix;
  unsigned expireAfter;
};

// What a run found, as the diagnostic sensor tells it: ok, missing, not_ours, not_mapped,
// sensors_file_refused.
enum class RunStatus { ok, missing, notOurs, notMapped, sensorsFileRefused };
const char* labelOf(RunStatus status);

// The topic filters of this node's entity configs, whose retained messages say what an earlier
// run published.
std::vector<std::string> configFilters(const Node& node);

// The messages of a run that found `status`, in the order they go out: the diagnostic sensor's
// config; when the readings were read (ok), each reading's config and, where it has a limit, its
// problem sensor's, then an empty retained message for each of `retainedConfigs` (topic and
// payload, as the broker kept them) that this node published for a reading it no longer has;
// the availability (online when ok); each reading's state, alarm and limits; the status.
std::vector<MqttMessage> messagesOf(const Node& node, RunStatus status,
                                    const std::vector<Reading>& readings,
                                    const std::map<std::string, std::string>& retainedConfigs);

#endif  // KORVALEN_MQTT_MESSAGES_H
