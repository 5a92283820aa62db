// korvalen-mqtt HOST[:PORT]: one snapshot of the Korvalen monitor's readings, published to an MQTT
// broker for Home Assistant, with its discovery: each reading a sensor, each reading with a limit
// a problem sensor, and a diagnostic sensor that says why the readings are unavailable when they
// are. It reads the block as korvalen-snapshot does, through the same calls and trust rules, and
// the sensors file as the other companions do, then connects, publishes, disconnects and exits:
// a timer or a scheduled task runs it each minute.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "broker.h"
#include "companion.h"
#include "messages.h"
#include "mqtt_platform.h"
#include "quoting.h"
#include "regular_file.h"
#include "standard_streams.h"

namespace {

// What the command line asks for.
struct Request {
  SensorsRequest sensors;
  Node node{"", "homeassistant", "korvalen", 180};
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

// A topic prefix: one or more levels, with no wildcard and no empty level.
CLI::Validator topicPrefix() {
  return CLI::Validator(
      [](std::string& prefix) -> std::string {
        if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/' ||
            prefix.find("//") != std::string::npos ||
            prefix.find_first_of("+#") != std::string::npos)
          return "not a topic's levels (no +, # or empty level)";
        return "";
      },
      "");
}

std::optional<int> readRequest(int argc, char** argv, Request* request) {
  CLI::App app(
      "Reads the Korvalen monitor's block, KVSharedMemory_QDX, once, as\n"
      "korvalen-snapshot does, and publishes its readings to the MQTT broker at\n"
      "HOST (port 1883 unless :PORT says), with Home Assistant's discovery, as the\n"
      "sensors file names, hides and bounds them. Run it each minute, in the\n"
      "monitor's session.",
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
      ->option_text("NAME");
  app.add_option("--password-file", request->passwordFile,
                 "the user's password: the first line of FILE,\nwhich the user alone may read")
      ->option_text("FILE");
  app.add_option("--discovery-prefix", request->node.discoveryPrefix,
                 "Home Assistant's discovery prefix\n(default: homeassistant)")
      ->option_text("P")
      ->check(topicPrefix());
  app.add_option("--topic-prefix", request->node.topicPrefix,
                 "the prefix of the states' topics (default:\nkorvalen)")
      ->option_text("P")
      ->check(topicPrefix());
  app.add_option("--expire-after", request->node.expireAfter,
                 "seconds after which Home Assistant shows a\nreading unavailable (default: 180)")
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
  app.footer(std::string(tls) +
             "Topics: homeassistant/sensor/NODE/KIND_N/config and, for a reading with a\n"
             "limit, homeassistant/binary_sensor/NODE/KIND_N_alarm/config (retained);\n"
             "korvalen/NODE/KIND/N, .../alarm (ON or OFF) and .../limits (not retained);\n"
             "korvalen/NODE/availability (online, offline) and korvalen/NODE/status (ok,\n"
             "missing, not_ours, not_mapped, sensors_file_refused), retained.\n\n"
             "Exit status: 0 published, whether the block was read or not (the status\n"
             "says); 64 bad usage; 69 no broker, or the network failed; 74 help or version\n"
             "not written; 77 the broker refused the credentials; 78 the sensors file or\n"
             "the password file refused.");
  if (const std::optional<int> status = parseCommandLine(app, argc, argv, "")) return *status;
  if (const std::optional<int> status = checkSensors(app, &request->sensors)) return *status;
  if (request->address.empty()) return usageError(app, "HOST is required");
  if (const std::string wrong = readAddress(request->address, &request->broker); !wrong.empty())
    return usageError(app, shownName(request->address) + ": " + wrong);
  if (!request->passwordFile.empty() && request->broker.username.empty())
    return usageError(app, "--password-file: no --username to go with it");
  return std::nullopt;
}

// Reads the password, the first line of `path`, into `*password`. Returns what is wrong, or "".
std::string readPassword(const std::string& path, std::string* password) {
  std::string text, reason;
  if (!readRegularFile(path, 4096, &text, &reason)) return "cannot be read: " + reason;
  if (const std::string problem = passwordFileProblem(path); !problem.empty()) return problem;
  *password = text.substr(0, text.find('\n'));
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return "";
}

RunStatus statusOf(ReadOutcome outcome, OpenFailure why) {
  if (outcome == ReadOutcome::read) return RunStatus::ok;
  const DownReason reason = downReasonOf(outcome, why);
  return reason == DownReason::missing   ? RunStatus::missing
         : reason == DownReason::notOurs ? RunStatus::notOurs
                                         : RunStatus::notMapped;
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
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
  Node& node = request.node;
  if (node.name.empty()) node.name = nodeNameOf(hostName());

  // A refused file publishes no reading: it would look named and bounded by a file not read.
  SensorsFile sensors;
  const bool sensorsRead = readSensorsTold("korvalen-mqtt", request.sensors, &sensors);
  std::uint8_t copy[kSensorBlockSize] = {};
  OpenFailure why = OpenFailure::other;
  const ReadOutcome read = sensorsRead ? readBlock(copy, &why) : ReadOutcome::notOpened;
  const RunStatus status = sensorsRead ? statusOf(read, why) : RunStatus::sensorsFileRefused;
  const std::vector<Reading> readings =
      status == RunStatus::ok ? readingsOf(SensorBlock{copy}, sensors) : std::vector<Reading>{};

  const std::string run = std::to_string(processId());
  request.broker.clientId = "korvalen-mqtt-" + node.name + "-" + run;
  request.broker.syncTopic = node.topicPrefix + "/" + node.name + "/run/" + run;
  request.broker.statusWhenUnanswered = sensorsRead ? kUnavailableStatus : kConfigStatus;
  std::string problem;
  const BrokerOutcome outcome = publishRun(
      request.broker, configFilters(node),
      [&](const std::map<std::string, std::string>& retained) {
        return messagesOf(node, status, readings, retained);
      },
      &problem);
  if (outcome != BrokerOutcome::published)
    std::fputs(problemLine(request.broker, problem).c_str(), stderr);
  if (!sensorsRead) return kConfigStatus;
  return outcome == BrokerOutcome::published ? 0
         : outcome == BrokerOutcome::refused ? kNoPermissionStatus
                                             : kUnavailableStatus;
}
