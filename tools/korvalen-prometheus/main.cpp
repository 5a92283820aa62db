// korvalen-prometheus OUTPUT: one snapshot of the Korvalen monitor's readings as a file in
// Prometheus' text format, for the textfile collector of node_exporter or windows_exporter. It
// reads the block as korvalen-snapshot does, through the same calls and trust rules, and writes
// each reading as the report's text for it, named, left out and bounded as the operator's sensors
// file (--sensors) says.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "companion.h"
#include "exit_status.h"
#include "quoting.h"
#include "sensor_block.h"
#include "sensors_file.h"
#include "snapshot_report.h"
#include "standard_streams.h"
#include "textfile.h"

namespace {

// Whether a sensors file was given, and how reading it went.
enum class SensorsOutcome { none, read, refused };

// Appends a gauge's HELP and TYPE lines.
void appendHead(std::string& text, const char* name, const char* help) {
  text.append("# HELP ").append(name).append(" ").append(help);
  text.append("\n# TYPE ").append(name).append(" gauge\n");
}

// Appends `gauge` with the single value `value`.
void appendGauge(std::string& text, const Gauge& gauge, const std::string& value) {
  appendHead(text, gauge.name, gauge.help);
  text.append(gauge.name).append(" ").append(value).append("\n");
}

// The labels of a series of position `index`: sensor="N", and the name that `settings` gives.
std::string labelsOf(unsigned index, const SensorSettings& settings) {
  std::string labels = "{sensor=\"" + std::to_string(index) + "\"";
  if (!settings.name.empty()) labels.append(",name=\"").append(escapedLabelValue(settings.name));
  return labels.append(settings.name.empty() ? "}" : "\"}");
}

// Appends the gauge `metric` with `help`, and a series of it for each of `used` positions of
// `kind` that `sensors` does not ignore and for which `entryOf` gives an entry; nothing when
// there is no such series.
template <class EntryOf>
void appendSeries(std::string& text, const char* metric, const char* help,
                  const ReadingKindInfo& kind, unsigned used, const SensorsFile& sensors,
                  const EntryOf& entryOf) {
  std::string series;
  for (unsigned index = 0; index < used; ++index) {
    const SensorSettings& settings = sensors.of(kind.kind, index);
    const std::optional<std::int32_t> entry = entryOf(index, settings);
    if (settings.ignore || !entry) continue;
    series.append(metric).append(labelsOf(index, settings)).append(" ");
    series.append(readingText(kind, *entry).text).append("\n");
  }
  if (series.empty()) return;
  appendHead(text, metric, help);
  text += series;
}

// Appends one kind of reading, a series per entry used that `sensors` does not ignore, labelled
// by its position and name; then each limit that `sensors` sets for those entries. Each entry
// is read once, from the copy.
void appendKind(std::string& text, const SensorBlock& block, const KindExposition& shown,
                const SensorsFile& sensors) {
  const ReadingKindInfo& kind = readingKind(shown.kind);
  const unsigned used = usableReadings(block.count(kind));
  appendSeries(text, shown.metric, shown.help, kind, used, sensors,
               [&](unsigned index, const SensorSettings&) {
                 return std::optional<std::int32_t>(block.entry(kind, index));
               });
  for (const LimitExposition& limit : shown.limits) {
    appendSeries(
        text, limit.metric, limit.help, kind, used, sensors,
        [&](unsigned, const SensorSettings& settings) { return settings.limit(limit.limit); });
  }
}

// What a run found: the block, why it was not opened, the sensors file, and when.
struct Found {
  ReadOutcome outcome;
  OpenFailure why;
  SensorsOutcome sensors;
  std::time_t when;
};

// The textfile for what a run `found`, with the readings of `block` when it was read, named,
// ignored and bounded as `sensors` says; none when the sensors file was refused, since a reading
// must never look named or bounded by a file that was not read. Lines end in LF.
std::string textfileOf(const Found& found, const SensorBlock& block, const SensorsFile& sensors) {
  const bool read = found.outcome == ReadOutcome::read;
  std::string text;
  appendGauge(text, kUpGauge, read ? "1" : "0");
  appendGauge(text, kSnapshotStatusGauge, std::to_string(snapshotStatusOf(found.outcome)));
  if (!read) {
    appendHead(text, kDownReasonGauge.name, kDownReasonGauge.help);
    text.append(kDownReasonGauge.name).append("{reason=\"");
    text.append(labelOf(downReasonOf(found.outcome, found.why))).append("\"} 1\n");
  }
  if (found.sensors != SensorsOutcome::none)
    appendGauge(text, kSensorsFileGauge, found.sensors == SensorsOutcome::read ? "1" : "0");
  appendGauge(text, kWrittenGauge, std::to_string(static_cast<long long>(found.when)));
  // A stale reading must never look live, nor one look named by a file that was not read.
  if (!read || found.sensors == SensorsOutcome::refused) return text;
  appendGauge(text, kBlockVersionGauge, std::to_string(block.version()));
  appendGauge(text, kBlockFlagsGauge, std::to_string(block.flags()));
  for (const KindExposition& kind : kExposition) appendKind(text, block, kind, sensors);
  return text;
}

// Whether the textfile collectors read a file of this name: they read *.prom.
bool namedForCollectors(const std::string& path) {
  const std::string suffix = ".prom";
  return path.size() >= suffix.size() &&
         path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The metrics, as the help lists them, from the exposition's table.
std::string metricsHelp() {
  std::string text = std::string("Metrics: ") + kUpGauge.name + ", " + kSnapshotStatusGauge.name +
                     ", " + kWrittenGauge.name + ", " + kDownReasonGauge.name +
                     " when the block was not read, " + kSensorsFileGauge.name +
                     " with a sensors file; when the block was read " + kBlockVersionGauge.name +
                     ", " + kBlockFlagsGauge.name;
  std::string limits;
  for (const KindExposition& kind : kExposition) {
    text += std::string(", ") + kind.metric;
    for (const LimitExposition& limit : kind.limits) limits += std::string(", ") + limit.metric;
  }
  return text + ", one series per reading, labelled sensor=\"0\" and up, and name=\"...\" where " +
         "the sensors file names it; the file's limits as " + limits.substr(2) + ".";
}

// What the command line asks for.
struct Request {
  std::string output;
  SensorsRequest sensors;
  bool check = false;
};

// Reads the command line into `*request`. Returns the exit status to end with once help, the
// version or a usage error has been printed, or nothing to go on. The parser is gone once it
// returns, so that what comes after reuses its memory.
std::optional<int> readRequest(int argc, char** argv, Request* request) {
  CLI::App app(companionDescription("replaces OUTPUT whole with its readings in Prometheus' text "
                                    "format, for the textfile collector of node_exporter or "
                                    "windows_exporter. Run it on a timer."),
               "korvalen-prometheus");
  describeProgram(app,
                  "korvalen-prometheus [OPTIONS] OUTPUT\n"
                  "       korvalen-prometheus --sensors FILE --check");
  // Not required() to CLI11, which would say so before it says that an option is unknown.
  const CLI::Option* given = app.add_option(
      "OUTPUT", request->output, "the file to write, named *.prom, in the\ncollector's folder");
  addSensors(app, &request->sensors);
  app.add_flag("--check", request->check,
               "check the sensors file alone, print what it says\nof each position, and exit");
  app.footer(wrapped(metricsHelp()) +
             "\n\nOUTPUT may be missing, a regular file, or a link to one (whose file is\n"
             "replaced); anything else is refused and left as it is.\n\n" +
             exitStatusHelp({{kStatusReported,
                              "OUTPUT written, whether the block was read or not, or the sensors "
                              "file checked"},
                             {kStatusWriteFailed, "OUTPUT not written and left as it was"},
                             {kUsageStatus, "bad usage"},
                             {kHelpUnwritten, "help, version or check not written"},
                             {kConfigStatus,
                              "sensors file refused: OUTPUT written without readings, and "
                              "korvalen_sensors_file_ok 0 (--check: nothing)"}}));
  if (const std::optional<int> status = parseCommandLine(app, argc, argv, "")) return *status;
  if (const std::optional<int> status = checkSensors(app, &request->sensors)) return *status;
  const bool check = request->check;
  if (check && !request->sensors.given) return usageError(app, "--check: no --sensors to check");
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

  // A refused file is told on stderr and by the status, and OUTPUT says so to the alerts, with
  // the block's state and no readings.
  SensorsFile sensors;
  SensorsOutcome sensorsOutcome =
      request.sensors.given ? SensorsOutcome::read : SensorsOutcome::none;
  if (!readSensorsTold("korvalen-prometheus", request.sensors, &sensors)) {
    if (request.check) return kConfigStatus;
    sensorsOutcome = SensorsOutcome::refused;
  }
  if (request.check)
    return writeOutputTold("korvalen-prometheus", describeSensors(sensors), kHelpUnwritten);

  const std::string& output = request.output;
  std::uint8_t copy[kSensorBlockSize] = {};
  Found found{ReadOutcome::read, OpenFailure::other, sensorsOutcome, 0};
  found.outcome = readBlock(copy, &found.why);
  found.when = std::time(nullptr);
  std::string reason;
  if (!replaceFile(output, textfileOf(found, SensorBlock{copy}, sensors), &reason)) {
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
  return sensorsOutcome == SensorsOutcome::refused ? kConfigStatus : 0;
}
