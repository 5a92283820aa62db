#include "companion.h"

#include <cstdio>

void addSensors(CLI::App& app, SensorsRequest* request) { addSensorsOption(app, request->path); }

std::optional<int> checkSensors(const CLI::App& app, SensorsRequest* request) {
  request->given = app.count("--sensors") != 0;
  if (request->given && request->path.empty())
    return usageError(app, "--sensors: the file name is empty");
  return std::nullopt;
}

bool readSensorsTold(const char* program, const SensorsRequest& request, SensorsFile* file) {
  std::string problem;
  if (!request.given || readSensorsFile(request.path, file, &problem)) return true;
  std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
  return false;
}

const char* blockProblem(ReadOutcome outcome, OpenFailure why) {
  const DownReason reason = downReasonOf(outcome, why);
  if (reason == DownReason::missing) return "no Korvalen block: the monitor is not running";
  if (reason == DownReason::notOurs) {
    return "the Korvalen block is not ours to read: another user's, one that others may write "
           "or with a second name, or on Windows one whose access is refused";
  }
  return "the Korvalen block cannot be mapped";
}

int writeOutputTold(const char* program, const std::string& text, int failed) {
  std::string reason;
  if (writeStandardOutput(text, &reason)) return 0;
  std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program, reason.c_str());
  return failed;
}
