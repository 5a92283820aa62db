// korvalen-sim's command line: what it publishes and how. Its help (--help) is the one place
// that describes every option.
#ifndef KORVALEN_SIM_SIM_OPTIONS_H
#define KORVALEN_SIM_SIM_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "block_encoder.h"
#include "command_line.h"
#include "sim_platform.h"

struct SimOptions {
  BlockDescription block;  // the described block, unless `raw`
  bool raw = false;
  std::string rawPath;  // with `raw`: the file whose bytes are published as they stand
  PublishOptions publish;
  bool churn = false;
  std::vector<std::string> command;  // empty: hold the block until stopped
};

// Parses the command line into `options`: the options, then "--" and the command. Returns the
// exit status to end with once help, the version or a usage error (one line on stderr,
// kUsageStatus) has been printed, or nothing to go on.
std::optional<int> parseSimOptions(int argc, char** argv, SimOptions* options);

#endif  // KORVALEN_SIM_SIM_OPTIONS_H
