// korvalen-sensors: the Korvalen monitor's readings by name, with their limits, for people (a
// view like lm-sensors' `sensors`) and for scripts (--json). It reads the block once, as
// korvalen-snapshot does, through the same calls and trust rules, and the operator's sensors
// file as korvalen-prometheus reads it.
#include <cstdint>
#include <optional>
#include <string>

#include "companion.h"
#include "readings_view.h"
#include "standard_streams.h"

namespace {

// What the command line asks for.
struct Request {
  SensorsRequest sensors;
  bool json = false;
};

// Reads the command line into `*request`. Returns the exit status to end with once help, the
// version or a usage error has been printed, or nothing to go on.
std::optional<int> readRequest(int argc, char** argv, Request* request) {
  CLI::App app(companionDescription("shows each reading by its name, with its limits, as the "
                                    "sensors file names and bounds it: a line each for people, "
                                    "or one JSON document for scripts."),
               "korvalen-sensors");
  describeProgram(app, "korvalen-sensors [--sensors FILE] [--json]");
  addSensors(app, &request->sensors);
  app.add_flag("--json", request->json, "one JSON document, for scripts");
  app.footer(
      "A reading beyond one of its limits (above max, at or above crit, below min)\n"
      "is marked ALARM, and \"alarm\": true in JSON.\n\n" +
      exitStatusHelp({{kStatusReported, "printed"},
                      {kStatusOpenFailed,
                       "no block, or one not ours to read (another user's, one others may write "
                       "or with a second name; on Windows access refused)"},
                      {kStatusMapFailed, "the block cannot be mapped"},
                      {kStatusWriteFailed, "the output not written"},
                      {kUsageStatus, "bad usage"},
                      {kHelpUnwritten, "help or version not written"},
                      {kConfigStatus, "sensors file refused"}}) +
      "\nRun it in the monitor's session.");
  if (const std::optional<int> status = parseCommandLine(app, argc, argv, "")) return *status;
  return checkSensors(app, &request->sensors);
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
  Request request;
  if (const std::optional<int> status = readRequest(argc, argv, &request)) return *status;

  SensorsFile sensors;
  if (!readSensorsTold("korvalen-sensors", request.sensors, &sensors)) return kConfigStatus;
  std::uint8_t copy[kSensorBlockSize] = {};
  OpenFailure why = OpenFailure::other;
  const ReadOutcome outcome = readBlock(copy, &why);
  if (outcome != ReadOutcome::read) {
    std::fprintf(stderr, "korvalen-sensors: %s\n", blockProblem(outcome, why));
    return snapshotStatusOf(outcome);
  }
  const SensorBlock block{copy};
  return writeOutputTold("korvalen-sensors",
                         request.json ? jsonOf(block, sensors) : viewOf(block, sensors),
                         kStatusWriteFailed);
}
