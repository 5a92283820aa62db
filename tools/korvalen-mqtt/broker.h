// One session with an MQTT broker, through libmosquitto: connect (MQTT v5, else 3.1.1 where the
// broker refuses v5), learn what this node's entity configs the broker keeps, publish a run's
// messages at QoS 1 and see each accepted, then disconnect, all before one deadline.
#ifndef KORVALEN_MQTT_BROKER_H
#define KORVALEN_MQTT_BROKER_H

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "exit_status.h"
#include "messages.h"

// How long a whole run may take, whatever the broker or the network does: within a minute's
// timer, with room to spare.
inline constexpr int kRunSeconds = 30;

struct BrokerSettings {
  std::string host;
  int port = 1883;
  std::string username;  // none when empty
  std::string password;
  std::string caFile;          // TLS with this CA's certificates, where the library has TLS
  bool systemCaFiles = false;  // TLS with the system's certificates
  std::string clientId;
  std::string syncTopic;  // a topic of this run's own, which it may publish to and read
  std::chrono::steady_clock::time_point deadline;  // when the run ends, done or not
  // What the process ends with should a call that the library does not bound outlast it.
  int statusWhenUnanswered = kUnavailableStatus;
};

// The line that tells `problem`, a failure with the broker of `settings`.
std::string problemLine(const BrokerSettings& settings, const std::string& problem);

enum class BrokerOutcome { published, unavailable, refused };

// The retained configs that the broker keeps at `watched` topics (each one matching one of
// `filters`), topic and payload, as a run's messages are composed from them.
using Compose = std::function<std::vector<MqttMessage>(const std::map<std::string, std::string>&)>;

// Connects as `settings` say, subscribes to `filters` and gathers the retained messages the
// broker holds at `watched` topics (at most kMaxConfigBytes each), then publishes what `compose`
// makes of those and waits until the broker has accepted each one: with MQTT v5 by the reason
// code of its acknowledgement; with 3.1.1, which cannot refuse, by seeing each message at a
// `watched` topic come back through the subscription. Returns published; or unavailable (no
// broker, a network failure, no answer by the deadline, a message refused for another reason)
// or refused (the credentials, or the broker says not authorised), with `*problem` set to what
// failed.
BrokerOutcome publishRun(const BrokerSettings& settings, const std::vector<std::string>& filters,
                         const std::set<std::string>& watched, const Compose& compose,
                         std::string* problem);

#endif  // KORVALEN_MQTT_BROKER_H
