// One session with an MQTT broker, through libmosquitto: connect, learn what this node's entity
// configs the broker keeps, publish a run's messages at QoS 1 and see each acknowledged, then
// disconnect. No step waits longer than kBrokerTimeoutSeconds for the broker.
#ifndef KORVALEN_MQTT_BROKER_H
#define KORVALEN_MQTT_BROKER_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "exit_status.h"
#include "messages.h"

inline constexpr int kBrokerTimeoutSeconds = 10;

struct BrokerSettings {
  std::string host;
  int port = 1883;
  std::string username;  // none when empty
  std::string password;
  std::string caFile;          // TLS with this CA's certificates, where the library has TLS
  bool systemCaFiles = false;  // TLS with the system's certificates
  std::string clientId;
  std::string syncTopic;  // a topic of this run's own, which it may publish to and read
  // What the process ends with should resolving the name outlast kBrokerTimeoutSeconds.
  int statusWhenUnanswered = kUnavailableStatus;
};

// The line that tells `problem`, a failure with the broker of `settings`.
std::string problemLine(const BrokerSettings& settings, const std::string& problem);

enum class BrokerOutcome { published, unavailable, refused };

// Connects as `settings` say, subscribes to `filters` and gathers the retained messages the
// broker holds for them, then publishes what `compose` makes of those (topic and payload) and
// waits for each acknowledgement. Returns published; or unavailable (no broker, a network
// failure, no answer in time) or refused (the credentials), with `*problem` set to what failed.
BrokerOutcome publishRun(
    const BrokerSettings& settings, const std::vector<std::string>& filters,
    const std::function<std::vector<MqttMessage>(const std::map<std::string, std::string>&)>&
        compose,
    std::string* problem);

#endif  // KORVALEN_MQTT_BROKER_H
