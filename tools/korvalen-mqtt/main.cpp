// korvalen-mqtt HOST[:PORT]: what its help says. The block is read as korvalen-snapshot reads it,
// the sensors file as the other companions read it; then one session with the broker, within
// kRunSeconds of the start.
#include <mosquitto.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>

#include "broker.h"
#include "companion.h"
#include "messages.h"
#include "mqtt_platform.h"
#include "quoting.h"
#include "standard_streams.h"

namespace {

// The most memory a run takes, whatever the broker holds or sends.
constexpr std::size_t kMemoryBound = 96u << 20;
// The most of a password file that is read: its first line is the password.
constexpr std::size_t kMaxPasswordFile = 4096;
// The longest string MQTT carries: a topic, a user name.
constexpr std::size_t kMaxMqttString = 65535;

const Node kDefaultNode{"", "homeassistant", "korvalen", 180};

// What the command line asks for.
struct Request {
  SensorsRequest sensors;
  Node node = kDefaultNode;
  BrokerSettings broker;
  std::string address;  // HOST[:PORT], as given
  std::string passwordFile;
};

// `name` as a node's name: lowercased, anything outside [a-z0-9_] as '_'.
std::string nodeNameOf(std::string name) {
  for (char& c : name) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) c = '_';
  }
  return name.empty() ? "korvalen" : name;
}

// Splits HOST[:PORT] ([ADDRESS]:PORT for IPv6) into `*settings`. Returns what is wrong, or "".
std::string readAddress(const std::string& address, BrokerSettings* settings) {
  std::string host = address, port;
  if (address.starts_with('[')) {
    const std::size_t close = address.find(']');
    if (close == std::string::npos) return "an IPv6 address not closed by ]";
    host = address.substr(1, close - 1);
    if (close + 1 < address.size() && address[close + 1] == ':')
      port = address.substr(close + 2);
    else if (close + 1 != address.size())
      return "more follows the IPv6 address";
  } else if (const std::size_t colon = address.find(':');
             colon != std::string::npos && address.find(':', colon + 1) == std::string::npos) {
    host = address.substr(0, colon);
    port = address.substr(colon + 1);
  }
  if (host.empty()) return "no host";
  if (std::any_of(host.begin(), host.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
    return "not a host: it holds a space or a control character";
  settings->host = host;
  if (port.empty() && address.size() > host.size() && address.back() == ':') return "no port";
  if (port.empty()) return "";
  int number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
    return "the port is not 1 to 65535";
  settings->port = number;
  return "";
}

// What is wrong with `text` as MQTT carries it, or "": UTF-8 without a control character, at most
// kMaxMqttString bytes.
std::string mqttTextProblem(const std::string& text) {
  if (text.size() > kMaxMqttString)
    return "longer than MQTT's " + std::to_string(kMaxMqttString) + " bytes";
  if (mosquitto_validate_utf8(text.data(), static_cast<int>(text.size())) != MOSQ_ERR_SUCCESS)
    return "not UTF-8 without control characters";
  return "";
}

// A topic prefix: one or more levels, with no wildcard and no empty level, not a broker's own
// ($SYS), as MQTT carries text.
CLI::Validator topicPrefix() {
  return CLI::Validator(
      [](std::string& prefix) -> std::string {
        if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/' ||
            prefix.find("//") != std::string::npos ||
            prefix.find_first_of("+#") != std::string::npos)
          return "not a topic's levels (no +, # or empty level)";
        if (prefix.front() == '$') return "a topic beginning with $ is the broker's own";
        return mqttTextProblem(prefix);
      },
      "");
}

// The footer of the help: the topics, and every exit status with what it says.
std::string helpFooter() {
  std::string statuses;
  for (const RunStatus status : kRunStatuses)
    statuses += std::string(statuses.empty() ? "" : ", ") + labelOf(status);
  const std::string unavailable = "no broker, the network failed, no answer within " +
                                  std::to_string(kRunSeconds) + " s, or a message refused";
  return "Topics: homeassistant/sensor/NODE/KIND_N/config and, for a reading with a\n"
         "limit, homeassistant/binary_sensor/NODE/KIND_N_alarm/config (retained);\n"
         "korvalen/NODE/KIND/N, .../alarm (ON or OFF) and .../limits (not retained);\n"
         "korvalen/NODE/availability (online, offline) and korvalen/NODE/status\n(" +
         statuses + "), retained.\n\n" +
         exitStatusHelp(
             {{kStatusReported, "published, whether the block was read or not (the status says)"},
              {kUsageStatus, "bad usage"},
              {kUnavailableStatus, unavailable.c_str()},
              {kHelpUnwritten, "help or version not written"},
              {kNoPermissionStatus, "the broker refused the credentials, or said not authorised"},
              {kConfigStatus, "the sensors file or the password file refused"}});
}

std::optional<int> readRequest(int argc, char** argv, Request* request) {
  CLI::App app(companionDescription("publishes its readings to the MQTT broker at HOST (port 1883 "
                                    "unless :PORT says), with Home Assistant's discovery, as the "
                                    "sensors file names, hides and bounds them. Run it each "
                                    "minute, in the monitor's session."),
               "korvalen-mqtt");
  describeProgram(app, "korvalen-mqtt [OPTIONS] HOST[:PORT]");
  app.add_option("HOST[:PORT]", request->address, "the broker")->option_text(" ");
  addSensors(app, &request->sensors);
  app.add_option("--node", request->node.name,
                 "the name of this machine in topics and ids\n(default: the host's, lowercased, "
                 "a-z 0-9 _)")
      ->option_text("NAME")
      ->check(CLI::Validator(
          [](std::string& name) {
            return !name.empty() && nodeNameOf(name) == name ? "" : "only a-z, 0-9 and _";
          },
          ""));
  app.add_option("--username", request->broker.username, "the user to connect as")
      ->option_text("NAME")
      ->check(CLI::Validator([](std::string& name) { return mqttTextProblem(name); }, ""));
  app.add_option("--password-file", request->passwordFile,
                 "the user's password: the first line of FILE,\nwhich the user alone may read")
      ->option_text("FILE");
  app.add_option(
         "--discovery-prefix", request->node.discoveryPrefix,
         "Home Assistant's discovery prefix\n(default: " + kDefaultNode.discoveryPrefix + ")")
      ->option_text("P")
      ->check(topicPrefix());
  app.add_option("--topic-prefix", request->node.topicPrefix,
                 "the prefix of the states' topics (default:\n" + kDefaultNode.topicPrefix + ")")
      ->option_text("P")
      ->check(topicPrefix());
  app.add_option("--expire-after", request->node.expireAfter,
                 "seconds after which Home Assistant shows a\nreading unavailable (default: " +
                     std::to_string(kDefaultNode.expireAfter) + ")")
      ->option_text("SECONDS")
      ->check(CLI::Range(1u, 86400u));
#ifdef KORVALEN_MQTT_TLS
  app.add_option("--cafile", request->broker.caFile,
                 "TLS, trusting the certificate authorities of FILE")
      ->option_text("FILE")
      ->check(CLI::ExistingFile);
  app.add_flag("--tls", request->broker.systemCaFiles, "TLS, trusting the system's authorities");
  const char* const tls = "";
#else
  const char* const tls =
      "This build speaks MQTT without TLS: use it with a broker on the local\n"
      "network.\n\n";
#endif
  app.footer(std::string(tls) + helpFooter());
  if (const std::optional<int> status = parseCommandLine(app, argc, argv, "")) return *status;
  if (const std::optional<int> status = checkSensors(app, &request->sensors)) return *status;
  if (request->address.empty()) return usageError(app, "HOST is required");
  if (const std::string wrong = readAddress(request->address, &request->broker); !wrong.empty())
    return usageError(app, shownName(request->address) + ": " + wrong);
  if (app.count("--password-file") != 0 && request->passwordFile.empty())
    return usageError(app, "--password-file: the file name is empty");
  if (!request->passwordFile.empty() && request->broker.username.empty())
    return usageError(app, "--password-file: no --username to go with it");
  if (request->node.name.empty()) request->node.name = nodeNameOf(hostName());
  if (longestTopic(request->node) > kMaxMqttString)
    return usageError(app,
                      "the topics of --discovery-prefix, --topic-prefix and --node are "
                      "longer than MQTT's " +
                          std::to_string(kMaxMqttString) + " bytes");
  return std::nullopt;
}

// Reads the password, the first line of `path` (a CR before its line feed, as Windows writes
// it, left out), into `*password`. Returns what is wrong, or "".
std::string readPassword(const std::string& path, std::string* password) {
  std::string text;
  if (const std::string problem = readPasswordFile(path, kMaxPasswordFile, &text); !problem.empty())
    return problem;
  if (text.size() > kMaxPasswordFile)
    return "longer than " + std::to_string(kMaxPasswordFile) + " bytes: not a password file";
  *password = text.substr(0, text.find('\n'));
  if (!password->empty() && password->back() == '\r') password->pop_back();
  if (password->empty()) return "its first line, the password, is empty";
  if (password->find('\0') != std::string::npos) return "the password holds a NUL byte";
  return "";
}

RunStatus statusOf(ReadOutcome outcome, OpenFailure why) {
  return outcome == ReadOutcome::read ? RunStatus::ok : runStatusOf(downReasonOf(outcome, why));
}

int run(int argc, char** argv, std::chrono::steady_clock::time_point started) {
  Request request;
  if (const std::optional<int> status = readRequest(argc, argv, &request)) return *status;
  if (!request.passwordFile.empty()) {
    if (const std::string problem = readPassword(request.passwordFile, &request.broker.password);
        !problem.empty()) {
      std::fprintf(stderr, "korvalen-mqtt: %s: %s\n", shownName(request.passwordFile).c_str(),
                   problem.c_str());
      return kConfigStatus;
    }
  }
  const Node& node = request.node;

  // A refused file publishes no reading: it would look named and bounded by a file not read.
  SensorsFile sensors;
  const bool sensorsRead = readSensorsTold("korvalen-mqtt", request.sensors, &sensors);
  std::uint8_t copy[kSensorBlockSize] = {};
  OpenFailure why = OpenFailure::other;
  const ReadOutcome read = sensorsRead ? readBlock(copy, &why) : ReadOutcome::notOpened;
  const RunStatus status = sensorsRead ? statusOf(read, why) : RunStatus::sensorsFileRefused;
  const std::vector<Reading> readings =
      status == RunStatus::ok ? readingsOf(SensorBlock{copy}, sensors) : std::vector<Reading>{};

  request.broker.clientId = "korvalen-mqtt-" + node.name + "-" + std::to_string(processId());
  request.broker.syncTopic = runTopic(node, processId());
  request.broker.deadline = started + std::chrono::seconds(kRunSeconds);
  request.broker.statusWhenUnanswered = sensorsRead ? kUnavailableStatus : kConfigStatus;
  std::string problem;
  const BrokerOutcome outcome = publishRun(
      request.broker, configFilters(node), configTopics(node),
      [&](const std::map<std::string, std::string>& retained) {
        return messagesOf(node, status, readings, retained);
      },
      &problem);
  if (outcome != BrokerOutcome::published)
    std::fputs(problemLine(request.broker, problem).c_str(), stderr);
  if (!sensorsRead) return kConfigStatus;
  return outcome == BrokerOutcome::published ? kStatusReported
         : outcome == BrokerOutcome::refused ? kNoPermissionStatus
                                             : kUnavailableStatus;
}

}  // namespace

int main(int argc, char** argv) {
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  prepareStandardStreams();
  limitMemory(kMemoryBound);
  try {
    return run(argc, argv, started);
  } catch (const std::bad_alloc&) {
    std::fputs("korvalen-mqtt: out of memory\n", stderr);
    return kUnavailableStatus;
  }
}
