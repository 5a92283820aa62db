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

// `series` with its labels in the order of their names, as node_exporter serves them, and none
// that is empty, which node_exporter adds where a series of the family has it (no value here
// holds a quote before a comma).
std::string sortedLabels(const std::string& series) {
  const std::size_t open = series.find('{');
  if (open == std::string::npos) return series;
  const std::string inner = series.substr(open + 1, series.size() - open - 2);
  std::vector<std::string> labels;
  for (std::size_t from = 0, end; from < inner.size(); from = end + 1) {
    end = std::min(inner.find("\",", from), inner.size() - 1) + 1;
    const std::string label = inner.substr(from, end - from);
    if (!label.ends_with("=\"\"")) labels.push_back(label);  // empty is none, as in Prometheus
  }
  std::sort(labels.begin(), labels.end());
  std::string sorted = series.substr(0, open + 1);
  for (const std::string& label : labels) sorted += label + (&label == &labels.back() ? "}" : ",");
  return sorted;
}

// The samples in `text` (Prometheus' text format) of the korvalen_ metrics and
// node_textfile_scrape_error, by series.
std::map<std::string, double> samplesOf(const std::string& text) {
  std::istringstream lines(text);
  std::map<std::string, double> values;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("korvalen_", 0) == 0 || line.rfind("node_textfile_scrape_error ", 0) == 0) {
      values[sortedLabels(line.substr(0, line.rfind(' ')))] =
          std::stod(line.substr(line.rfind(' ') + 1));
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
// entry for every slot counted, and a sensors file, when given.
struct ScrapeCase : TableRow {
  BlockDescription block;
  std::size_t size = kSensorBlockSize;
  std::string sensors = {};
};

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

  // Served as written, every sample (the file's own bytes are the other tests' to check), and
  // read without a scrape error.
  std::map<std::string, double> written = samplesOf(readFile(folder + "/k.prom"));
  written["node_textfile_scrape_error"] = 0;
  EXPECT_EQ(written.count("korvalen_up"), 1u);
  EXPECT_EQ(scrape(port), written);
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
                   "[fan.0]\nignore = true\n[voltage.3]\nmin = 1"}),
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
