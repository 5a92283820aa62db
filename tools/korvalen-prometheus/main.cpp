// korvalen-prometheus OUTPUT: one snapshot of the Korvalen monitor's readings as a file in
// Prometheus' text format, for the textfile collector of node_exporter or windows_exporter. It
// reads the block as korvalen-snapshot does, through the same calls and trust rules, and writes
// each reading as the report's text for it, named, left out and bounded as the operator's sensors
// file (--sensors) says.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "common/command_line.h"
#include "common/quoting.h"
#include "platform/named_block.h"
#include "platform/standard_streams.h"
#include "sensor/sensor_block.h"
#include "sensor/snapshot_report.h"
#include "sensors_file.h"
#include "status/snapshot_status.h"
#include "textfile.h"

namespace {

// How reading the block went.
enum class ReadOutcome { read, notOpened, notMapped };

// korvalen-snapshot's status for the same block: what korvalen_snapshot_status reports.
int snapshotStatusOf(ReadOutcome outcome) {
  return outcome == ReadOutcome::read        ? kStatusReported
         : outcome == ReadOutcome::notOpened ? kStatusOpenFailed
                                             : kStatusMapFailed;
}

// Reads the block once into `copy`. Returns read with `copy` filled, notOpened when the block
// cannot be opened (missing, refused, another user's), notMapped when it cannot be mapped or its
// memory goes away while it is read.
ReadOutcome readBlock(std::uint8_t (&copy)[kSensorBlockSize]) {
  NamedBlockHandle handle;
  if (!openNamedBlock(kSensorMappingName, &handle)) return ReadOutcome::notOpened;
  const volatile std::uint8_t* view = mapNamedBlock(handle, kSensorBlockSize);
  const bool copied = view != nullptr && copyNamedBlock(view, kSensorBlockSize, copy);
  closeNamedBlock(handle);
  return copied ? ReadOutcome::read : ReadOutcome::notMapped;
}

// Appends a gauge's HELP and TYPE lines.
void appendGauge(std::string& text, const char* name, const char* help) {
  text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

// Appends a gauge with a single value.
void appendGauge(std::string& text, const char* name, const char* help, const char* value) {
  appendGauge(text, name, help);
  text += std::string(name) + " " + value + "\n";
}

// Appends a gauge's HELP and TYPE lines and then `series`, or nothing when there is no series.
void appendGaugeSeries(std::string& text, const char* name, const char* help,
                       const std::string& series) {
  if (series.empty()) return;
  appendGauge(text, name, help);
  text += series;
}

// The labels of a series of position `index`: sensor="N", and the name that `settings` gives.
std::string labelsOf(unsigned index, const SensorSettings& settings) {
  std::string labels = "{sensor=\"" + std::to_string(index) + "\"";
  if (!settings.name.empty()) labels.append(",name=\"").append(escapedLabelValue(settings.name));
  return labels.append(settings.name.empty() ? "}" : "\"}");
}

// Appends a series of `metric` with `labels` and the value whose text is `value`.
void appendSeries(std::string& series, const char* metric, const std::string& labels,
                  const char* value) {
  series.append(metric).append(labels).append(" ").append(value).append("\n");
}

// Appends one kind of reading, a series per entry used that `sensors` does not ignore, labelled
// by its position and name; then each limit that `sensors` sets for those entries.
void appendReadings(std::string& text, const SensorBlock& block, const ReadingKindInfo& kind,
                    const SensorsFile& sensors) {
  const unsigned used = usableReadings(block.count(kind));
  std::string labels[kMaxReadings];
  std::string series;
  for (unsigned index = 0; index < used; ++index) {
    const SensorSettings& settings = sensors.of(kind.kind, index);
    if (settings.ignore) continue;
    labels[index] = labelsOf(index, settings);
    appendSeries(series, kind.metric, labels[index],
                 readingText(kind, block.entry(kind, index)).text);
  }
  appendGaugeSeries(text, kind.metric, kind.help, series);
  for (const LimitOfKind& limit : limitsOf(kind.kind)) {
    series.clear();
    for (unsigned index = 0; index < used; ++index) {
      const SensorSettings& settings = sensors.of(kind.kind, index);
      const std::optional<std::int32_t>& value = settings.limit(limit.limit);
      if (settings.ignore || !value) continue;
      appendSeries(series, limit.metric, labels[index], readingText(kind, *value).text);
    }
    appendGaugeSeries(text, limit.metric, limit.help, series);
  }
}

// The textfile for `outcome`, with the readings of `block` when it was read, named, ignored and
// bounded as `sensors` says. Lines end in LF.
std::string textfileOf(ReadOutcome outcome, const SensorBlock& block, const SensorsFile& sensors) {
  const bool read = outcome == ReadOutcome::read;
  std::string text;
  text.reserve(32768);  // more than 96 readings and their limits, so that it grows once
  appendGauge(text, "korvalen_up", "1 when the Korvalen block was read, else 0.", read ? "1" : "0");
  appendGauge(text, "korvalen_snapshot_status",
              "0 read, 1 not opened, 2 not mapped, as korvalen-snapshot's status.",
              std::to_string(snapshotStatusOf(outcome)).c_str());
  if (!read) return text;  // a stale reading must never look live
  appendGauge(text, "korvalen_block_version", "The block's version field.",
              std::to_string(block.version()).c_str());
  appendGauge(text, "korvalen_block_flags", "The block's flag word.",
              std::to_string(block.flags()).c_str());
  for (const ReadingKindInfo& kind : kReadingKinds) appendReadings(text, block, kind, sensors);
  return text;
}

// Whether the textfile collectors read a file of this name: they read *.prom.
bool namedForCollectors(const std::string& path) {
  const std::string suffix = ".prom";
  return path.size() >= suffix.size() &&
         path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// What the command line asks for.
struct Request {
  std::string output;
  std::string sensorsPath;  // with `sensors`
  bool sensors = false;
  bool check = false;
};

// Reads the command line into `*request`. Returns the exit status to end with once help, the
// version or a usage error has been printed, or nothing to go on. The parser is gone once it
// returns, so that what comes after reuses its memory.
std::optional<int> readRequest(int argc, char** argv, Request* request) {
  CLI::App app(
      "Reads the Korvalen monitor's block, KVSharedMemory_QDX, once, as\n"
      "korvalen-snapshot does, and replaces OUTPUT whole with its readings in\n"
      "Prometheus' text format, for the textfile collector of node_exporter or\n"
      "windows_exporter. Run it on a timer.",
      "korvalen-prometheus");
  describeProgram(app,
                  "korvalen-prometheus [OPTIONS] OUTPUT\n"
                  "       korvalen-prometheus --sensors FILE --check");
  // Not required() to CLI11, which would say so before it says that an option is unknown.
  const CLI::Option* given = app.add_option(
      "OUTPUT", request->output, "the file to write, named *.prom, in the\ncollector's folder");
  const CLI::Option* sensorsGiven =
      app.add_option("--sensors", request->sensorsPath,
                     "name, ignore and bound the readings as the TOML\nfile FILE says "
                     "(sensors.example.toml)")
          ->option_text("FILE");
  app.add_flag("--check", request->check,
               "check the sensors file alone, print what it says\nof each position, and exit");
  app.footer(
      "Metrics: korvalen_up, korvalen_snapshot_status, and when the block was read\n"
      "korvalen_block_version, korvalen_block_flags, korvalen_temp_celsius,\n"
      "korvalen_fan_rpm and korvalen_in_volts, one series per reading, labelled\n"
      "sensor=\"0\" and up, and name=\"...\" where the sensors file names it; the\n"
      "file's limits as korvalen_temp_max_celsius, korvalen_temp_crit_celsius,\n"
      "korvalen_fan_min_rpm, korvalen_in_min_volts and korvalen_in_max_volts.\n\n"
      "OUTPUT may be missing, a regular file, or a link to one (whose file is\n"
      "replaced); anything else is refused and left as it is.\n\n"
      "Exit status: 0 OUTPUT written, whether the block was read or not, or the\n"
      "sensors file checked; 3 OUTPUT not written and left as it was; 64 bad usage;\n"
      "74 help, version or check not written; 78 sensors file refused, OUTPUT left\n"
      "as it was.");
  if (const std::optional<int> status = parseCommandLine(app, argc, argv, "")) return *status;
  request->sensors = sensorsGiven->count() != 0;
  const bool check = request->check;
  if (check && !request->sensors) return usageError(app, "--check: no --sensors to check");
  if (check && given->count() != 0) return usageError(app, "--check: takes no OUTPUT");
  if (!check && given->count() == 0) return usageError(app, "OUTPUT is required");
  if (!check && request->output.empty()) return usageError(app, "OUTPUT: the file name is empty");
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stderr must not kill a run that has written its file: the status tells.
  prepareStandardStreams();
  Request request;
  if (const std::optional<int> status = readRequest(argc, argv, &request)) return *status;

  // Read before the block and before OUTPUT: a refused file leaves OUTPUT as it was, and the
  // staleness alert tells the operator.
  static SensorsFile sensors;
  std::string problem;
  if (request.sensors && !readSensorsFile(request.sensorsPath, &sensors, &problem)) {
    std::fprintf(stderr, "korvalen-prometheus: %s\n", problem.c_str());
    return kConfigStatus;
  }
  if (request.check) {
    const std::string lines = describeSensors(sensors);
    errno = 0;  // so that a failed write is told with its own reason, not an earlier one's
    std::cout << lines;
    return finishStandardOutput("korvalen-prometheus");
  }

  const std::string& output = request.output;
  std::uint8_t copy[kSensorBlockSize] = {};
  const ReadOutcome outcome = readBlock(copy);
  std::string reason;
  if (!replaceFile(output, textfileOf(outcome, SensorBlock{copy}, sensors), &reason)) {
    std::fprintf(stderr, "korvalen-prometheus: cannot write %s: %s\n", shellQuoted(output).c_str(),
                 reason.c_str());
    return kStatusWriteFailed;
  }
  if (!namedForCollectors(output)) {
    std::fprintf(stderr,
                 "korvalen-prometheus: warning: %s is written, but collectors read only files "
                 "named *.prom\n",
                 shellQuoted(output).c_str());
  }
  return 0;
}
