// korvalen-prometheus: the textfile it writes, byte for byte, and how it fails. Runs natively and,
// built for Windows, under Wine, where the file must hold the same bytes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <list>
#include <string>
#include <thread>

#include "outcome.h"
#include "prometheus_textfile.h"
#include "support/block_bytes.h"

namespace {

const std::string kRead = readHead(2, 65535) +
                          gaugeHead(kExposition[0].metric, kExposition[0].help) +
                          kExposition[0].metric + "{sensor=\"0\"} -0.05\n" +
                          gaugeHead(kExposition[1].metric, kExposition[1].help) +
                          kExposition[1].metric + "{sensor=\"0\"} -1\n";
const std::vector<std::string> kWrite{"{prometheus}", "{file}"};

// `rows`, and on Windows the same again with the windowless build, which must write the same
// file and end the same way ("Windowless" after each name).
std::vector<OutcomeRow> withWindowless(std::vector<OutcomeRow> rows) {
  static std::list<std::string> names;  // the rows' names point into it
  const std::string windowless = builtProgram("korvalen-prometheusw");
  if (!std::filesystem::exists(windowless)) return rows;
  for (std::size_t i = 0, count = rows.size(); i < count; ++i) {
    OutcomeRow row = rows[i];
    row.name = names.emplace_back(std::string(row.name) + "Windowless").c_str();
    for (std::string& arg : row.argv) arg = arg == "{prometheus}" ? windowless : arg;
    rows.push_back(row);
  }
  return rows;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Prometheus, Outcome,
    testing::ValuesIn(withWindowless({
        {.name = "Read", .argv = {"{sim}", "--block-version", "2", "--flags", "65535",
          "--temperatures", "-0.05", "--fans", "-1", "--", "{prometheus}", "{file}"}, .file = "old",
          .written = kRead},
        {.name = "Sample", .argv = {"{sim}", "--sample", "--", "{prometheus}", "{file}"},
          .written = readTextfile(kSampleBlock)},
        {.name = "NoBlock", .argv = kWrite, .file = "old", .written = down("1")},
        {.name = "BlockTooSmall", .argv = {"{sim}", "--raw", "{file}", "--", "{prometheus}",
          "{file}"}, .file = bytesOf({}).substr(0, 401), .written = down("2")},
        {.name = "FolderMissing", .argv = {"{prometheus}", "{file}-none/k.prom"}, .status = 3,
          .err = "korvalen-prometheus: cannot write '{file}-none/k.prom': *\n"},
        {.name = "NoOutput", .argv = {"{prometheus}"}, .status = 64,
          .err = "korvalen-prometheus: OUTPUT is required\n"
          "Run 'korvalen-prometheus --help' for the options.\n"},
        {.name = "OutputAFolder", .argv = {"{prometheus}", "{folder}"}, .status = 3,
          .err = "korvalen-prometheus: cannot write '{folder}': not a regular file\n"},
        {.name = "VersionToFullDevice", .argv = {"{prometheus}", "--version"}, .status = 74,
          .err = "korvalen-prometheus: cannot write to standard output*\n",
          .sink = OutputSink::fullDevice},
        {.name = "UnknownOption", .argv = {"{prometheus}", "--bogus", "{file}"}, .status = 64,
          .err = "korvalen-prometheus: --bogus: no such option\n*\n"}})),
    testing::PrintToStringParamName());
// clang-format on

// A collector reading the old file holds it open; on Windows, where that blocks the rename
// until it closes, the file is still replaced. ("N": the handle is not inherited by the writer.)
TEST(PrometheusTextfile, ReplacesAFileHeldOpen) {
  const std::string path = scratchPath("held.prom");
  writeFile(path, "old");
  std::FILE* reader = std::fopen(path.c_str(), "rbN");
  std::thread closer([reader] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::fclose(reader);
  });
  const std::time_t started = std::time(nullptr);
  const ProcessResult result = runProcess({prometheus(), path});
  closer.join();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(normalizedTextfile(readFile(path), started), down("1"));
  std::remove(path.c_str());
}

// The names and help texts that operators and their dashboards know, spelled here alone.
TEST(Exposition, NamesAndHelpTexts) {
  std::string text;
  for (const Gauge& gauge : {kUpGauge, kSnapshotStatusGauge, kDownReasonGauge, kSensorsFileGauge,
                             kWrittenGauge, kBlockVersionGauge, kBlockFlagsGauge})
    text += std::string(gauge.name) + " " + gauge.help + "\n";
  for (const KindExposition& kind : kExposition) {
    text += std::string(kind.table) + " " + kind.metric + " " + kind.help + "\n";
    for (const LimitExposition& limit : kind.limits)
      text += std::string(" ") + limit.key + " " + limit.metric + " " + limit.help + "\n";
  }
  EXPECT_EQ(text, R"(korvalen_up 1 when the Korvalen block was read, else 0.
korvalen_snapshot_status 0 read, 1 not opened, 2 not mapped, as korvalen-snapshot's status.
korvalen_down_reason Why the block was not read: 1, with reason missing (no block), not_ours (a block there but not ours to read) or not_mapped.
korvalen_sensors_file_ok 1 when the sensors file was read, 0 when it was refused: then no reading is written.
korvalen_textfile_written_seconds When this file was written, in seconds since 1970.
korvalen_block_version The block's version field.
korvalen_block_flags The block's flag word.
temperature korvalen_temp_celsius Temperature, degrees Celsius.
 max korvalen_temp_max_celsius Temperature above which the sensor runs hot, degrees Celsius (sensors file).
 crit korvalen_temp_crit_celsius Temperature at which the sensor is critical, degrees Celsius (sensors file).
fan korvalen_fan_rpm Fan speed, revolutions per minute.
 min korvalen_fan_min_rpm Fan speed below which the fan is slow, revolutions per minute (sensors file).
voltage korvalen_in_volts Voltage, volts.
 min korvalen_in_min_volts Lowest good voltage, volts (sensors file).
 max korvalen_in_max_volts Highest good voltage, volts (sensors file).
)");
}

}  // namespace
