// The front that korvalen-prometheus, korvalen-sensors and korvalen-mqtt share: the sensors file
// asked for and read alike, the block read once and why it was not told alike, and what they
// print on standard output written alike (a Windows console takes UTF-16).
#ifndef KORVALEN_COMPANION_COMPANION_H
#define KORVALEN_COMPANION_COMPANION_H

#include <optional>
#include <string>

#include "block_copy.h"
#include "command_line.h"
#include "exit_status.h"
#include "sensors_file.h"
#include "standard_output.h"

// --sensors FILE as the command line gave it: `given` is read from the parser once it has parsed
// (checkSensors), for the run after the parser is gone.
struct SensorsRequest {
  std::string path;
  bool given = false;
};

// Declares --sensors FILE on `app` into `*request`.
void addSensors(CLI::App& app, SensorsRequest* request);

// After parsing, while `app` lives: notes whether --sensors was given. Returns kUsageStatus,
// told, for an empty file name; else nothing.
std::optional<int> checkSensors(const CLI::App& app, SensorsRequest* request);

// Reads the sensors file that `request` names, if any, into `*file`. Returns true; or false
// after one line on standard error, "PROGRAM: FILE:LINE:COLUMN: what".
bool readSensorsTold(const char* program, const SensorsRequest& request, SensorsFile* file);

// The line that tells why the block was not read, after "PROGRAM: ".
const char* blockProblem(ReadOutcome outcome, OpenFailure why);

// Writes `text` to standard output whole. Returns 0; or `failed` after one line on standard
// error, "PROGRAM: cannot write to standard output: why".
int writeOutputTold(const char* program, const std::string& text, int failed);

#endif  // KORVALEN_COMPANION_COMPANION_H
