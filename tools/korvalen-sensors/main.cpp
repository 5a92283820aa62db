// korvalen-sensors: the Korvalen monitor's readings by name, with their limits, for people (a
// view like lm-sensors' `sensors`) and for scripts (--json). It reads the block once, as
// korvalen-snapshot does, through the same calls and trust rules, and the operator's sensors
// file as korvalen-prometheus reads it.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "block_copy.h"
#include "command_line.h"
#include "readings_view.h"
#include "sensors_file.h"
#include "exit_status.h"
#include "standard_output.h"
#include "standard_streams.h"

namespace {

// What the command line asks for.
struct Request {
  std::string sensorsPath;  // with `sensors`
  bool sensors = false;
  bool json = false;
};

// Reads the command line into `*request`. Returns the exit status to end with once help, the
// version or a usage error has been printed, or nothing to go on.
std::optional<int> readRequest(int argc, char** argv, Request* request) {
  CLI::App app(
      "Reads the Korvalen monitor's block, KVSharedMemory_QDX, once, as\n"
      "korvalen-snapshot does, and shows each reading by its name, with its limits,\n"
      "as the sensors file names and bounds it: a line each for people, or one JSON\n"
      "document for scripts.",
      "korvalen-sensors");
  describeProgram(app, "korvalen-sensors [--sensors FILE] [--json]");
  const CLI::Option* sensorsGiven = addSensorsOption(app, request->sensorsPath);
  app.add_flag("--json", request->json, "one JSON document, for scripts");
  app.footer(
      "A reading beyond one of its limits (above max, at or above crit, below min)\n"
      "is marked ALARM, and \"alarm\": true in JSON.\n\n"
      "Exit status: 0 printed; 1 no block, or one not ours to read (another user's,\n"
      "one others may write or with a second name; on Windows access refused); 2 the\n"
      "block cannot be mapped; 3 the output not written; 64 bad usage; 74 help or\n"
      "version not written; 78 sensors file refused. Run it in the monitor's session.");
  if (const std::optional<int> status = parseCommandLine(app, argc, argv, "")) return *status;
  request->sensors = sensorsGiven->count() != 0;
  if (request->sensors && request->sensorsPath.empty())
    return usageError(app, "--sensors: the file name is empty");
  return std::nullopt;
}

// The line that tells why the block was not read.
const char* problemOf(ReadOutcome outcome, OpenFailure why) {
  const DownReason reason = downReasonOf(outcome, why);
  if (reason == DownReason::missing) return "no Korvalen block: the monitor is not running";
  if (reason == DownReason::notOurs) {
    return "the Korvalen block is not ours to read: another user's, one that others may write "
           "or with a second name, or on Windows one whose access is refused";
  }
  return "the Korvalen block cannot be mapped";
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
  Request request;
  if (const std::optional<int> status = readRequest(argc, argv, &request)) return *status;

  SensorsFile sensors;
  std::string problem;
  if (request.sensors && !readSensorsFile(request.sensorsPath, &sensors, &problem)) {
    std::fprintf(stderr, "korvalen-sensors: %s\n", problem.c_str());
    return kConfigStatus;
  }
  std::uint8_t copy[kSensorBlockSize] = {};
  OpenFailure why = OpenFailure::other;
  const ReadOutcome outcome = readBlock(copy, &why);
  if (outcome != ReadOutcome::read) {
    std::fprintf(stderr, "korvalen-sensors: %s\n", problemOf(outcome, why));
    return snapshotStatusOf(outcome);
  }
  const SensorBlock block{copy};
  std::string reason;
  if (!writeStandardOutput(request.json ? jsonOf(block, sensors) : viewOf(block, sensors),
                           &reason)) {
    std::fprintf(stderr, "korvalen-sensors: cannot write to standard output: %s\n", reason.c_str());
    return kStatusWriteFailed;
  }
  return kStatusReported;
}
