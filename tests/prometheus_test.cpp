// korvalen-prometheus: the textfile it writes, byte for byte, and how it fails. Runs natively and,
// built for Windows, under Wine, where the file must hold the same bytes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <list>
#include <map>
#include <string>
#include <thread>

#include "exposition.h"
#include "outcome.h"
#include "prometheus_textfile.h"
#include "support/block_bytes.h"

namespace {

const std::string kRead = readHead(2, 65535) +
                          series("korvalen_temp_celsius", {"{sensor=\"0\"} -0.05"}) +
                          series("korvalen_fan_rpm", {"{sensor=\"0\"} -1"});
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
        {.name = "NoBlock", .argv = kWrite, .file = "old", .written = head(1)},
        {.name = "BlockTooSmall", .argv = {"{sim}", "--raw", "{file}", "--", "{prometheus}",
          "{file}"}, .file = bytesOf({}).substr(0, 401), .written = head(2)},
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
        {.name = "EmptySensorsFileName", .argv = {"{prometheus}", "--sensors", "", "{file}"},
          .status = 64, .err = "korvalen-prometheus: --sensors: the file name is empty\n*\n"},
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
  EXPECT_EQ(normalizedTextfile(readFile(path), started), head(1));
  std::remove(path.c_str());
}

// The exposition's table names each gauge and help text as the tests spell them, and no other.
TEST(Exposition, NamesAndHelpTexts) {
  std::map<std::string, std::string> table;
  for (const Gauge& gauge : {kUpGauge, kSnapshotStatusGauge, kDownReasonGauge, kSensorsFileGauge,
                             kWrittenGauge, kBlockVersionGauge, kBlockFlagsGauge})
    table[gauge.name] = gauge.help;
  for (const KindExposition& kind : kExposition) {
    table[kind.metric] = kind.help;
    for (const LimitExposition& limit : kind.limits) table[limit.metric] = limit.help;
  }
  EXPECT_EQ(table, kHelpTexts);
}

}  // namespace
