// korvalen-prometheus against the real node_exporter's textfile collector. How its file is
// replaced stands in textfile_posix_test.cpp and shell/.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "outcome.h"
#include "prometheus_textfile.h"
#include "support/block_bytes.h"

namespace {

// The samples in `text` (Prometheus' text format) of the korvalen_ metrics and
// node_textfile_scrape_error, by series.
std::map<std::string, double> samplesOf(const std::string& text) {
  std::istringstream lines(text);
  std::map<std::string, double> values;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("korvalen_", 0) == 0 || line.rfind("node_textfile_scrape_error ", 0) == 0) {
      values[line.substr(0, line.rfind(' '))] = std::stod(line.substr(line.rfind(' ') + 1));
    }
  }
  return values;
}

// What node_exporter serves on `port`, as samplesOf reads it.
std::map<std::string, double> scrape(int port) {
  return samplesOf(runProcess({"/bin/bash", "-c",
                               "exec 3<>/dev/tcp/127.0.0.1/$0 && printf 'GET /metrics "
                               "HTTP/1.0\\r\\n\\r\\n' >&3 && cat <&3",
                               std::to_string(port)})
                       .out);
}

// A block that korvalen-sim publishes, its first `size` bytes (none when 0), whose rows give an
// entry for every slot counted.
struct ScrapeCase : TableRow {
  BlockDescription block;
  std::size_t size = kSensorBlockSize;
  std::string sensors = {};                  // a sensors file, when given
  std::map<std::string, double> named = {};  // with it: the readings' and limits' samples, as
                                             // node_exporter serves them (name="" where none)
};

// What node_exporter must serve for `row`: whether the block was read and korvalen-snapshot's
// status for it, then, when it was, its header and each reading counted, by position.
std::map<std::string, double> expectedSamples(const ScrapeCase& row) {
  const bool read = row.size == kSensorBlockSize;
  std::map<std::string, double> samples{{"node_textfile_scrape_error", 0},
                                        {kUpGauge.name, read},
                                        {kSnapshotStatusGauge.name, read       ? 0
                                                                    : row.size ? 2
                                                                               : 1}};
  if (!read) {
    samples[std::string(kDownReasonGauge.name) + "{reason=\"" +
            labelOf(row.size ? DownReason::notMapped : DownReason::missing) + "\"}"] = 1;
    return samples;
  }
  if (!row.sensors.empty()) samples[kSensorsFileGauge.name] = 1;
  samples[kBlockVersionGauge.name] = row.block.version;
  samples[kBlockFlagsGauge.name] = row.block.flags;
  if (!row.sensors.empty()) {
    samples.insert(row.named.begin(), row.named.end());
    return samples;
  }
  for (const KindExposition& kind : kExposition) {
    const ReadingsDescription& readings = row.block.readings(kind.kind);
    for (unsigned i = 0; i < std::min(readings.count, std::uint16_t{32}); ++i) {
      const std::int32_t entry = readings.entries.at(i);
      samples[kind.metric + ("{sensor=\"" + std::to_string(i) + "\"}")] =
          kind.kind == ReadingKind::fans ? entry : entry / 100.0;
    }
  }
  return samples;
}

const KindExposition& kTemperature = exposition(ReadingKind::temperatures);
const std::string kCpu = R"({name="CPU \"0\" \\ é",sensor="0"})";

class NodeExporter : public testing::TestWithParam<ScrapeCase> {
 protected:
  // node_exporter with its textfile collector alone, on a free loopback port, as the user that a
  // collector runs as; it dies with this test program, however that ends.
  static void SetUpTestSuite() {
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    port = ntohs(address.sin_port);
    std::vector<std::string> argv{"/usr/bin/setpriv", "--pdeathsig=KILL"};
    if (geteuid() == 0)
      argv.insert(argv.end(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    argv.insert(argv.end(), {"/usr/bin/prometheus-node-exporter", "--collector.disable-defaults",
                             "--collector.textfile", "--collector.textfile.directory=" + folder,
                             "--web.listen-address=127.0.0.1:" + std::to_string(port)});
    exporter = startInBackground(argv, false).pid;
    for (int i = 0; i < 500 && !answered; ++i) {
      answered = !scrape(port).empty();
      if (!answered) usleep(10000);
    }
  }
  static void TearDownTestSuite() {
    kill(exporter, SIGTERM);
    waitpid(exporter, nullptr, 0);
    std::filesystem::remove_all(folder);
  }
  static inline const std::string folder = scratchPath("textfiles");
  static inline int port = 0, exporter = -1;
  static inline bool answered = false;
};

TEST_P(NodeExporter, ServesEveryReading) {
  ASSERT_TRUE(answered) << "node_exporter did not answer on 127.0.0.1:" << port;
  const ScrapeCase& row = GetParam();
  const std::string raw = scratchPath("raw"), sensors = scratchPath("sensors.toml");
  writeFile(raw, bytesOf(row.block).substr(0, row.size));
  writeFile(sensors, row.sensors);
  std::vector<std::string> argv{sim(), "--raw", raw, "--", prometheus(), folder + "/k.prom"};
  if (!row.sensors.empty()) argv.insert(argv.end() - 1, {"--sensors", sensors});
  ASSERT_EQ(runProcess({argv.begin() + (row.size == 0 ? 4 : 0), argv.end()}).status, 0);
  std::remove(raw.c_str());
  std::remove(sensors.c_str());

  std::map<std::string, double> served = scrape(port);
  EXPECT_NEAR(served[kWrittenGauge.name], static_cast<double>(std::time(nullptr)), 5);
  served.erase(kWrittenGauge.name);
  EXPECT_EQ(served, expectedSamples(row));
  const ProcessResult check =
      runProcess({"/bin/sh", "-c", "promtool check metrics <\"$0\" 2>&1", folder + "/k.prom"});
  EXPECT_EQ(check.status, 0) << check.out;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Blocks, NodeExporter,
    testing::Values(
        ScrapeCase{"Sample", kSampleBlock},
        ScrapeCase{"Negative", {.temperatures = {2, {-5, -2000}}, .fans = {1, {-1}},
                   .voltages = {1, {-1210}}}},
        ScrapeCase{"FullAndOverCounts", {.version = 65535, .temperatures = {32, sequence(32, 777)},
                   .fans = {40, sequence(32, 99991)}, .voltages = {65535, sequence(32, 123457)}}},
        ScrapeCase{"FansEmpty", {.temperatures = {1, {2550}}, .voltages = {1, {500}}}},
        ScrapeCase{"NoBlock", {}, 0},
        ScrapeCase{"BlockTooSmall", {.version = 9}, kSensorBlockSize - 1},
        ScrapeCase{"Named", {.temperatures = {2, {4550, -5}}, .fans = {1, {1200}}}, kSensorBlockSize,
                   "[temperature.0]\nname = 'CPU \"0\" \\ é'\nmax = 85.5\ncrit = 95\n"
                   "[fan.0]\nignore = true\n[voltage.3]\nmin = 1", {
                   {kTemperature.metric + kCpu, 45.5},
                   {kTemperature.metric + std::string(R"({name="",sensor="1"})"), -0.05},
                   {kTemperature.limits[0].metric + kCpu, 85.5},
                   {kTemperature.limits[1].metric + kCpu, 95}}}),
    testing::PrintToStringParamName());
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    PrometheusPosix, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "LineFeedInName", .argv = {"{prometheus}", "{file}-none\n/k.prom"}, .status = 3,
          .err = "korvalen-prometheus: cannot write '{file}-none'$'\\n''/k.prom': No such file "
          "or directory\n"},
        {.name = "SensorsFifoRefusedAtOnce", .argv = {"/bin/sh", "-c", "mkfifo \"$0.fifo\" && exec "
          "\"$1\" --sensors \"$0.fifo\" --check", "{file}", "{prometheus}"}, .status = 78,
          .err = "korvalen-prometheus: {file}.fifo: cannot be read: not a regular file\n"}}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
