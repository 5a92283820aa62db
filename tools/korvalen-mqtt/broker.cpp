// The session, driven by mosquitto_loop in this one thread: each wait is a loop until a callback
// has said what it waits for, the connection fails, or the run's deadline comes.
#include "broker.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <memory>

#include "mqtt_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the callbacks learn.
struct Session {
  const std::vector<std::string>* subscribed;  // in the order the one SUBSCRIBE names them
  const std::set<std::string>* watched;
  int version = MQTT_PROTOCOL_V5;
  int connack = -1;                             // the broker's answer to CONNECT, once it has come
  std::map<int, std::string> pending;           // what each message id not yet acknowledged carried
  std::string refused;                          // the first topic or filter the broker refused
  int refusal = 0;                              // and its reason code
  bool gathering = true;                        // until the first sync message comes back
  std::map<std::string, std::string> retained;  // what the broker kept, before that
  std::map<std::string, std::string> echoed;    // what came back of this run's, after it
  std::string syncTopic;
  bool synced = false;
};

// A reason code that refuses, as MQTT v5 and 3.1.1's SUBACK give them.
bool refuses(int reason) { return reason >= 0x80; }

void noteRefusal(Session& session, const std::string& what, int reason) {
  if (session.refused.empty()) session.refused = what, session.refusal = reason;
}

void onConnect(mosquitto*, void* data, int result, int, const mosquitto_property*) {
  static_cast<Session*>(data)->connack = result;
}
void onPublished(mosquitto*, void* data, int id, int reason, const mosquitto_property*) {
  Session& session = *static_cast<Session*>(data);
  if (refuses(reason)) noteRefusal(session, session.pending[id], reason);
  session.pending.erase(id);
}
void onSubscribed(mosquitto*, void* data, int id, int count, const int* granted,
                  const mosquitto_property*) {
  Session& session = *static_cast<Session*>(data);
  const auto answered =
      std::min(static_cast<std::size_t>(std::max(count, 0)), session.subscribed->size());
  for (std::size_t i = 0; i < answered; ++i) {
    if (refuses(granted[i])) noteRefusal(session, (*session.subscribed)[i], granted[i]);
  }
  session.pending.erase(id);
}
// Keeps a message at a watched topic that one of the subscriptions asked for, no longer than a
// config may be: nothing else is held, whatever the broker sends.
void onMessage(mosquitto*, void* data, const mosquitto_message* message,
               const mosquitto_property*) {
  Session& session = *static_cast<Session*>(data);
  const std::string topic = message->topic;
  if (topic == session.syncTopic) {
    session.synced = true;
    session.gathering = false;
    return;
  }
  bool asked = false;
  for (const std::string& filter : *session.subscribed) {
    bool matches = false;
    asked = asked || (mosquitto_topic_matches_sub(filter.c_str(), topic.c_str(), &matches) ==
                          MOSQ_ERR_SUCCESS &&
                      matches);
  }
  const auto length = static_cast<std::size_t>(std::max(message->payloadlen, 0));
  if (!asked || session.watched->count(topic) == 0 || length > kMaxConfigBytes) return;
  std::string payload(static_cast<const char*>(message->payload), length);
  if (!session.gathering)
    session.echoed[topic] = std::move(payload);
  else if (message->retain && length > 0)
    session.retained[topic] = std::move(payload);
}

// Runs the loop until `done` says so. Returns MOSQ_ERR_SUCCESS, the loop's error, or
// MOSQ_ERR_TIMEOUT when the deadline comes.
template <class Done>
int loopUntil(mosquitto* client, Clock::time_point deadline, const Done& done) {
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return MOSQ_ERR_TIMEOUT;
    const int wait = static_cast<int>(std::min<decltype(left)>(left, 100));
    if (const int result = mosquitto_loop(client, wait, 1); result != MOSQ_ERR_SUCCESS)
      return result;
  }
  return MOSQ_ERR_SUCCESS;
}

// The words for a failed step: `what` and the library's reason.
std::string failure(const std::string& what, int result) {
  return what + ": " +
         (result == MOSQ_ERR_TIMEOUT ? "no answer within " + std::to_string(kRunSeconds) + " s"
                                     : mosquitto_strerror(result));
}

// The whole seconds from now to `deadline`, at least one.
int secondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(1, (left + 999) / 1000));
}

// The outcome of a refusal with `reason`: not authorised is the user's rights, else the broker.
BrokerOutcome refusalOutcome(int reason) {
  return reason == MQTT_RC_NOT_AUTHORIZED ? BrokerOutcome::refused : BrokerOutcome::unavailable;
}

// The broker's words for `reason`, as the session's version reads them.
std::string reasonText(const Session& session, int reason) {
  return session.version == MQTT_PROTOCOL_V5 ? mosquitto_reason_string(reason) : "Failure";
}

// A session's end: published or why not, or that the broker refused MQTT v5 at CONNECT.
struct SessionEnd {
  BrokerOutcome outcome;
  bool refusedV5 = false;
};

SessionEnd failed(BrokerOutcome outcome, std::string* problem, const std::string& what) {
  *problem = what;
  return {outcome};
}

// Sets up `client` for the session: the protocol, no delay on small writes, the credentials, TLS.
int prepare(mosquitto* client, const Session& session, const BrokerSettings& settings) {
  int result = mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, session.version);
  if (result == MOSQ_ERR_SUCCESS) result = mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
  // Every message in flight at once, as far as the broker's own receive maximum (v5) lets it.
  if (result == MOSQ_ERR_SUCCESS)
    result = mosquitto_int_option(client, MOSQ_OPT_SEND_MAXIMUM, 65535);
  if (result == MOSQ_ERR_SUCCESS && !settings.username.empty())
    result =
        mosquitto_username_pw_set(client, settings.username.c_str(), settings.password.c_str());
#ifdef KORVALEN_MQTT_TLS
  if (result == MOSQ_ERR_SUCCESS && (!settings.caFile.empty() || settings.systemCaFiles))
    result = mosquitto_tls_set(client, settings.caFile.empty() ? nullptr : settings.caFile.c_str(),
                               settings.systemCaFiles ? "/etc/ssl/certs" : nullptr, nullptr,
                               nullptr, nullptr);
#endif
  return result;
}

// Publishes one message of this run's at QoS 1, noting its id; a message that expires carries
// its expiry where the protocol can (v5).
int publish(mosquitto* client, Session& session, const MqttMessage& message) {
  mosquitto_property* properties = nullptr;
  int result = MOSQ_ERR_SUCCESS;
  if (message.expiry > 0 && session.version == MQTT_PROTOCOL_V5)
    result = mosquitto_property_add_int32(&properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL,
                                          message.expiry);
  int id = 0;
  if (result == MOSQ_ERR_SUCCESS)
    result = mosquitto_publish_v5(client, &id, message.topic.c_str(),
                                  static_cast<int>(message.payload.size()), message.payload.data(),
                                  1, message.retained, properties);
  mosquitto_property_free_all(&properties);
  if (result == MOSQ_ERR_SUCCESS) session.pending[id] = message.topic;
  return result;
}

// Publishes an empty message to the run's own topic and waits until it comes back: by then each
// message the broker had for the subscriptions before it has come too.
int sync(mosquitto* client, Session& session, Clock::time_point deadline) {
  session.synced = false;
  int result = publish(client, session, {session.syncTopic, "", false});
  if (result == MOSQ_ERR_SUCCESS)
    result = loopUntil(client, deadline, [&] {
      return !session.refused.empty() || (session.synced && session.pending.empty());
    });
  return result;
}

// The session of one protocol version, on a connected `client`.
SessionEnd runSession(mosquitto* client, Session& session, const BrokerSettings& settings,
                      const Compose& compose, std::string* problem) {
  if (const int result = prepare(client, session, settings); result != MOSQ_ERR_SUCCESS)
    return failed(BrokerOutcome::unavailable, problem, failure("cannot set up the client", result));
  // A retained config longer than a config may be is not sent at all (v5): room for the longest
  // topic and the properties beside it.
  mosquitto_property* properties = nullptr;
  std::size_t longestTopic = settings.syncTopic.size();
  for (const std::string& topic : *session.watched)
    longestTopic = std::max(longestTopic, topic.size());
  int result = MOSQ_ERR_SUCCESS;
  if (session.version == MQTT_PROTOCOL_V5)
    result = mosquitto_property_add_int32(
        &properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
        static_cast<std::uint32_t>(kMaxConfigBytes + longestTopic + 1024));
  // Resolving the name and connecting block inside the library, beyond its loop's reach: the
  // deadline ends them.
  setDeadline(secondsUntil(settings.deadline),
              problemLine(settings, failure("cannot connect", MOSQ_ERR_TIMEOUT)),
              settings.statusWhenUnanswered);
  if (result == MOSQ_ERR_SUCCESS)
    result = mosquitto_connect_bind_v5(client, settings.host.c_str(), settings.port, 60, nullptr,
                                       properties);
  mosquitto_property_free_all(&properties);
  setDeadline(secondsUntil(settings.deadline) + 1,
              problemLine(settings, failure("the broker", MOSQ_ERR_TIMEOUT)),
              settings.statusWhenUnanswered);
  if (result == MOSQ_ERR_SUCCESS)
    result = loopUntil(client, settings.deadline, [&] { return session.connack >= 0; });
  // A refusal ends the loop with an error of its own once the callback has had the answer.
  if (result != MOSQ_ERR_SUCCESS && session.connack <= 0)
    return failed(BrokerOutcome::unavailable, problem, failure("cannot connect", result));
  if (session.version == MQTT_PROTOCOL_V5 &&
      session.connack == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION)
    return {BrokerOutcome::unavailable, true};
  if (session.connack != 0) {
    const bool v5 = session.version == MQTT_PROTOCOL_V5;
    const bool credentials = v5 ? session.connack == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
                                      session.connack == MQTT_RC_NOT_AUTHORIZED
                                : session.connack == CONNACK_REFUSED_BAD_USERNAME_PASSWORD ||
                                      session.connack == CONNACK_REFUSED_NOT_AUTHORIZED;
    return failed(credentials ? BrokerOutcome::refused : BrokerOutcome::unavailable, problem,
                  std::string("the broker refused the connection: ") +
                      (v5 ? mosquitto_reason_string(session.connack)
                          : mosquitto_connack_string(session.connack)));
  }

  // One SUBSCRIBE for the configs and the run's own topic; what the broker keeps for this node
  // has come once a message of this run's, published after it, comes back behind it. At QoS 0:
  // the connection loses nothing, and no acknowledgement of ours waits on the broker's window.
  std::vector<char*> filters;
  for (const std::string& filter : *session.subscribed)
    filters.push_back(const_cast<char*>(filter.c_str()));
  int id = 0;
  result = mosquitto_subscribe_multiple(client, &id, static_cast<int>(filters.size()),
                                        filters.data(), 0, 0, nullptr);
  if (result == MOSQ_ERR_SUCCESS) {
    session.pending[id] = "";
    result = loopUntil(client, settings.deadline, [&] { return session.pending.empty(); });
  }
  if (result == MOSQ_ERR_SUCCESS && session.refused.empty())
    result = sync(client, session, settings.deadline);
  if (!session.refused.empty())
    return failed(refusalOutcome(session.refusal), problem,
                  session.refused + ": the broker refused " +
                      (session.refused == settings.syncTopic ? "it" : "the subscription") + ": " +
                      reasonText(session, session.refusal));
  if (result != MOSQ_ERR_SUCCESS)
    return failed(BrokerOutcome::unavailable, problem,
                  failure("cannot read what it keeps", result));

  const std::vector<MqttMessage> messages = compose(session.retained);
  session.retained.clear();
  for (const MqttMessage& message : messages) {
    if ((result = publish(client, session, message)) != MOSQ_ERR_SUCCESS)
      return failed(BrokerOutcome::unavailable, problem,
                    failure(message.topic + ": cannot publish", result));
  }
  result = loopUntil(client, settings.deadline, [&] { return session.pending.empty(); });
  if (!session.refused.empty())
    return failed(
        refusalOutcome(session.refusal), problem,
        session.refused + ": the broker refused it: " + reasonText(session, session.refusal));
  if (result != MOSQ_ERR_SUCCESS)
    return failed(BrokerOutcome::unavailable, problem, failure("publishing", result));
  // MQTT 3.1.1 acknowledges what the broker drops: what it kept comes back through the
  // subscription, ahead of a second message of the run's own.
  if (session.version != MQTT_PROTOCOL_V5) {
    if ((result = sync(client, session, settings.deadline)) != MOSQ_ERR_SUCCESS)
      return failed(BrokerOutcome::unavailable, problem,
                    failure("cannot read back what it published", result));
    for (const MqttMessage& message : messages) {
      const auto echo = session.echoed.find(message.topic);
      if (session.watched->count(message.topic) != 0 &&
          (echo == session.echoed.end() || echo->second != message.payload))
        return failed(
            BrokerOutcome::unavailable, problem,
            message.topic + ": the broker did not keep it (with MQTT 3.1.1 it says no reason)");
    }
  }
  mosquitto_disconnect(client);
  return {BrokerOutcome::published};
}

}  // namespace

std::string problemLine(const BrokerSettings& settings, const std::string& problem) {
  const bool ipv6 = settings.host.find(':') != std::string::npos;
  return "korvalen-mqtt: " + (ipv6 ? "[" + settings.host + "]" : settings.host) + ":" +
         std::to_string(settings.port) + ": " + problem + "\n";
}

BrokerOutcome publishRun(const BrokerSettings& settings, const std::vector<std::string>& filters,
                         const std::set<std::string>& watched, const Compose& compose,
                         std::string* problem) {
  if (const int result = mosquitto_lib_init(); result != MOSQ_ERR_SUCCESS)
    return *problem = failure("cannot start the MQTT client", result), BrokerOutcome::unavailable;
  std::vector<std::string> subscribed = filters;
  subscribed.push_back(settings.syncTopic);
  SessionEnd end{BrokerOutcome::unavailable};
  // MQTT v5, and 3.1.1 only where the broker refuses v5 at CONNECT.
  for (const int version : {MQTT_PROTOCOL_V5, MQTT_PROTOCOL_V311}) {
    Session session;
    session.subscribed = &subscribed;
    session.watched = &watched;
    session.version = version;
    session.syncTopic = settings.syncTopic;
    const std::unique_ptr<mosquitto, void (*)(mosquitto*)> client(
        mosquitto_new(settings.clientId.c_str(), true, &session), mosquitto_destroy);
    if (!client) {
      *problem = "cannot start the MQTT client";
      break;
    }
    mosquitto_connect_v5_callback_set(client.get(), onConnect);
    mosquitto_publish_v5_callback_set(client.get(), onPublished);
    mosquitto_subscribe_v5_callback_set(client.get(), onSubscribed);
    mosquitto_message_v5_callback_set(client.get(), onMessage);
    end = runSession(client.get(), session, settings, compose, problem);
    if (!end.refusedV5) break;
  }
  setDeadline(0, "", 0);
  mosquitto_lib_cleanup();
  return end.outcome;
}
