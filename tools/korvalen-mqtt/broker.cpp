// The session, driven by mosquitto_loop in this one thread: each wait is a loop until a callback
// has said what it waits for, the connection fails, or the time is up.
#include "broker.h"

#include <mosquitto.h>

#include <chrono>
#include <set>

#include "mqtt_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the callbacks learn.
struct Session {
  int connack = -1;       // the broker's answer to CONNECT, once it has come
  std::set<int> pending;  // message ids not yet acknowledged (PUBACK, SUBACK)
  std::map<std::string, std::string> retained;
  std::string syncTopic;
  bool synced = false;
};

void onConnect(mosquitto*, void* data, int result) {
  static_cast<Session*>(data)->connack = result;
}
void onAcknowledged(mosquitto*, void* data, int id) {
  static_cast<Session*>(data)->pending.erase(id);
}
void onSubscribed(mosquitto*, void* data, int id, int, const int*) {
  static_cast<Session*>(data)->pending.erase(id);
}
void onMessage(mosquitto*, void* data, const mosquitto_message* message) {
  Session& session = *static_cast<Session*>(data);
  if (message->topic == session.syncTopic) {
    session.synced = true;
  } else if (message->retain && message->payloadlen > 0) {
    session.retained[message->topic] = std::string(static_cast<const char*>(message->payload),
                                                   static_cast<std::size_t>(message->payloadlen));
  }
}

// Runs the loop until `done` says so. Returns MOSQ_ERR_SUCCESS, the loop's error, or
// MOSQ_ERR_TIMEOUT when kBrokerTimeoutSeconds pass.
template <class Done>
int loopUntil(mosquitto* client, const Done& done) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kBrokerTimeoutSeconds);
  while (!done()) {
    if (Clock::now() > deadline) return MOSQ_ERR_TIMEOUT;
    if (const int result = mosquitto_loop(client, 100, 1); result != MOSQ_ERR_SUCCESS)
      return result;
  }
  return MOSQ_ERR_SUCCESS;
}

// The words for a failed step: `what` and the library's reason.
std::string failure(const char* what, int result) {
  return std::string(what) + ": " +
         (result == MOSQ_ERR_TIMEOUT
              ? "no answer within " + std::to_string(kBrokerTimeoutSeconds) + " s"
              : mosquitto_strerror(result));
}

BrokerOutcome publishWith(
    mosquitto* client, Session& session, const BrokerSettings& settings,
    const std::vector<std::string>& filters,
    const std::function<std::vector<MqttMessage>(const std::map<std::string, std::string>&)>&
        compose,
    std::string* problem) {
  if (!settings.username.empty())
    mosquitto_username_pw_set(client, settings.username.c_str(), settings.password.c_str());
#ifdef KORVALEN_MQTT_TLS
  if (!settings.caFile.empty() || settings.systemCaFiles) {
    const int result = mosquitto_tls_set(
        client, settings.caFile.empty() ? nullptr : settings.caFile.c_str(),
        settings.systemCaFiles ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    if (result != MOSQ_ERR_SUCCESS)
      return *problem = failure("TLS", result), BrokerOutcome::unavailable;
  }
#endif
  // Resolving the name blocks inside the library, beyond its loop's reach: a deadline ends it.
  setDeadline(kBrokerTimeoutSeconds,
              problemLine(settings, failure("cannot connect", MOSQ_ERR_TIMEOUT)),
              settings.statusWhenUnanswered);
  int result = mosquitto_connect_async(client, settings.host.c_str(), settings.port, 60);
  setDeadline(0, "", 0);
  if (result == MOSQ_ERR_SUCCESS) result = loopUntil(client, [&] { return session.connack >= 0; });
  // A refusal ends the loop with an error of its own once the callback has had the answer.
  if (result != MOSQ_ERR_SUCCESS && session.connack <= 0)
    return *problem = failure("cannot connect", result), BrokerOutcome::unavailable;
  if (session.connack != 0) {
    *problem = std::string("the broker refused the connection: ") +
               mosquitto_connack_string(session.connack);
    // 4: bad user name or password; 5: not authorised.
    return session.connack == 4 || session.connack == 5 ? BrokerOutcome::refused
                                                        : BrokerOutcome::unavailable;
  }
  // What the broker keeps for this node has come once a message of this run's own, published
  // after the subscriptions were acknowledged, comes back behind it.
  std::vector<std::string> topics = filters;
  topics.push_back(session.syncTopic);
  for (const std::string& filter : topics) {
    int id = 0;
    if ((result = mosquitto_subscribe(client, &id, filter.c_str(), 1)) != MOSQ_ERR_SUCCESS) break;
    session.pending.insert(id);
  }
  if (result == MOSQ_ERR_SUCCESS)
    result = loopUntil(client, [&] { return session.pending.empty(); });
  if (result == MOSQ_ERR_SUCCESS)
    result = mosquitto_publish(client, nullptr, session.syncTopic.c_str(), 0, nullptr, 1, false);
  if (result == MOSQ_ERR_SUCCESS) result = loopUntil(client, [&] { return session.synced; });
  if (result != MOSQ_ERR_SUCCESS)
    return *problem = failure("cannot read what it keeps", result), BrokerOutcome::unavailable;

  for (const MqttMessage& message : compose(session.retained)) {
    int id = 0;
    result = mosquitto_publish(client, &id, message.topic.c_str(),
                               static_cast<int>(message.payload.size()), message.payload.data(), 1,
                               message.retained);
    if (result != MOSQ_ERR_SUCCESS)
      return *problem = failure("cannot publish", result), BrokerOutcome::unavailable;
    session.pending.insert(id);
  }
  // Each acknowledgement within the time from the one before it.
  for (std::size_t left = session.pending.size(); result == MOSQ_ERR_SUCCESS && left > 0;
       left = session.pending.size())
    result = loopUntil(client, [&] { return session.pending.size() < left; });
  if (result != MOSQ_ERR_SUCCESS)
    return *problem = failure("publishing", result), BrokerOutcome::unavailable;
  mosquitto_disconnect(client);
  return BrokerOutcome::published;
}

}  // namespace

std::string problemLine(const BrokerSettings& settings, const std::string& problem) {
  const bool ipv6 = settings.host.find(':') != std::string::npos;
  return "korvalen-mqtt: " + (ipv6 ? "[" + settings.host + "]" : settings.host) + ":" +
         std::to_string(settings.port) + ": " + problem + "\n";
}

BrokerOutcome publishRun(
    const BrokerSettings& settings, const std::vector<std::string>& filters,
    const std::function<std::vector<MqttMessage>(const std::map<std::string, std::string>&)>&
        compose,
    std::string* problem) {
  mosquitto_lib_init();
  Session session;
  session.syncTopic = settings.syncTopic;
  mosquitto* client = mosquitto_new(settings.clientId.c_str(), true, &session);
  BrokerOutcome outcome = BrokerOutcome::unavailable;
  if (client == nullptr) {
    *problem = "cannot start the MQTT client";
  } else {
    mosquitto_connect_callback_set(client, onConnect);
    mosquitto_publish_callback_set(client, onAcknowledged);
    mosquitto_subscribe_callback_set(client, onSubscribed);
    mosquitto_message_callback_set(client, onMessage);
    outcome = publishWith(client, session, settings, filters, compose, problem);
    mosquitto_destroy(client);
  }
  mosquitto_lib_cleanup();
  return outcome;
}
