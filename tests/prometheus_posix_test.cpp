// korvalen-prometheus against the real node_exporter's textfile collector, and its file seen by a
// reader while it is replaced.
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
  if (!read) return samples;
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

  EXPECT_EQ(scrape(port), expectedSamples(row));
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
                   {R"(korvalen_temp_celsius{name="CPU \"0\" \\ é",sensor="0"})", 45.5},
                   {R"(korvalen_temp_celsius{name="",sensor="1"})", -0.05},
                   {R"(korvalen_temp_max_celsius{name="CPU \"0\" \\ é",sensor="0"})", 85.5},
                   {R"(korvalen_temp_crit_celsius{name="CPU \"0\" \\ é",sensor="0"})", 95}}}),
    testing::PrintToStringParamName());
// clang-format on

// A folder that the writer may not write to: the old file stays, and nothing is added.
const char kUnwritableFolder[] = R"sh(mkdir "$1.d" && echo old >"$1.d/k.prom" && chmod 555 "$1.d" &&
"$0" "$1.d/k.prom"; s=$?; ls "$1.d"; cat "$1.d/k.prom"; chmod 755 "$1.d"; rm -r "$1.d"; exit $s)sh";
// A reader that polls the file while it is replaced 200 times finds it whole each time.
const char kNeverSeenHalfWritten[] = R"sh(cp "$1" "$1.w" && "$0" "$1" && : >"$1.go" || exit
(n=0; while [ -e "$1.go" ]; do n=$((n+1)); cmp -s "$1" "$1.w" || echo partial; done
[ $n -gt 20 ] && echo polled) & for i in $(seq 200); do "$0" "$1"; done; rm "$1.go"; wait; rm "$1.w")sh";
// In a scratch folder $1.d, OUTPUT as what is not a regular file: each refused, and left as it
// was (the device is a link to /dev/null where mknod needs a power the test has not).
const char kNotRegularFiles[] = R"sh(mkdir "$1.d" && cd "$1.d" && mkfifo fifo && mkdir folder &&
(mknod device c 1 3 2>/dev/null || ln -s /dev/null device) && ln -s device to-device &&
ln -s nowhere dangling && echo old >file && ln -s file to-file
for f in device fifo folder to-device dangling; do "$0" $f; echo "$? $(stat -c %F $f)"; done
"$0" to-file; echo "$? $(stat -c %F to-file) $(sed -n 3p file)"; ls; cd / && rm -r "$1.d")sh";
// Temporaries beside OUTPUT: an abandoned one is removed; one that a live run holds, and files
// that only look like ours, stay.
const char kAbandoned[] = R"sh(mkdir "$1.d" && cd "$1.d" || exit
touch .k.prom.tmp-gone12 .k.prom.tmp-held12 .k.prom.tmp-short k.prom.backup hold
flock .k.prom.tmp-held12 sh -c 'while [ -e hold ]; do sleep 0.05; done' &
until ! flock -n .k.prom.tmp-held12 true; do sleep 0.05; done
"$0" k.prom; echo $?; rm hold; wait; ls -A; cd / && rm -r "$1.d")sh";
// Runs killed by SIGKILL at random instants, then one more: nothing but OUTPUT is left, whole.
// What the killed runs' runtime may print while it dies is not theirs to promise.
const char kKilledRuns[] =
    R"sh(mkdir "$1.d" && for i in $(seq 150); do "$0" "$1.d/k.prom" 2>/dev/null &
p=$!; sleep 0.00$(shuf -i 0-9 -n 1); kill -9 $p 2>/dev/null; wait $p 2>/dev/null; done; "$0" "$1.d/k.prom"
echo $?; ls -A "$1.d"; cat "$1.d/k.prom"; rm -r "$1.d")sh";
// A SIGTERM while the new file has its temporary name, held there by strace: the run replaces
// the file first, leaves no temporary, and ends as SIGTERM ends it.
const char kStoppedWhileReplacing[] = R"sh(mkdir "$1.d" && cd "$1.d" && echo old >k.prom || exit
strace -o trace -e trace=linkat -e inject=linkat:delay_exit=1000000 sh -c 'echo $$ >pid
exec "$0" k.prom' "$0" & until grep -qs linkat trace; do sleep 0.01; done; kill "$(cat pid)"
wait $! 2>/dev/null; echo $?; rm trace pid; ls -A; cat k.prom; cd / && rm -r "$1.d")sh";
// Folders and links of another user on the way to OUTPUT: a link of theirs in a folder open to
// all, a folder of theirs, a link of theirs to a folder of root's alone, and root's link into
// their folder. Each is refused, and nothing is written anywhere; root's own link is followed.
const char kOtherUsersPaths[] = R"sh(mkdir "$1.d" && cd "$1.d" && mkdir own && echo old >own/file &&
mkdir -m 1777 shared && install -d -o nobody theirs && as() { setpriv --reuid=nobody \
--regid=nogroup --clear-groups "$@"; } && as ln -s ../own/file shared/k.prom && as ln -s \
"$PWD/own" shared/folder && ln -s theirs/k.prom chain.prom && ln -s own/file own.prom || exit
for f in shared/k.prom theirs/k.prom shared/folder/k.prom chain.prom own.prom; do "$0" "$f"
echo $?; done; ls own theirs; sed -n 3p own/file; cd / && rm -r "$1.d")sh";
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    PrometheusPosix, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "UnwritableFolder", .argv = {"{unprivileged}", "/bin/sh", "-c", kUnwritableFolder,
          "{prometheus}", "{file}"}, .status = 3, .out = "k.prom\nold\n",
          .err = "korvalen-prometheus: cannot write '{file}.d/k.prom': Permission denied\n"},
        {.name = "NeverSeenHalfWritten", .argv = {"{sim}", "--sample", "--", "/bin/sh", "-c",
          kNeverSeenHalfWritten, "{prometheus}", "{file}"}, .out = "polled\n",
          .file = readTextfile(kSampleBlock)},
        {.name = "NotARegularFile", .argv = {"/bin/sh", "-c", kNotRegularFiles, "{prometheus}",
          "{file}"},
          .out = "3 * special file\n3 fifo\n3 directory\n3 symbolic link\n3 symbolic link\n"
          "0 symbolic link korvalen_up 0\ndangling\ndevice\nfifo\nfile\nfolder\nto-device\n"
          "to-file\n",
          .err = "korvalen-prometheus: cannot write 'device': not a regular file\n*\n*\n"
          "*\nkorvalen-prometheus: cannot write 'dangling': not a regular file\nkorvalen-prometheus: "
          "warning: 'to-file' is written, but collectors read only files named *.prom\n"},
        {.name = "AbandonedTemporary", .argv = {"/bin/sh", "-c", kAbandoned, "{prometheus}",
          "{file}"}, .out = "0\n.k.prom.tmp-held12\n.k.prom.tmp-short\nk.prom\nk.prom.backup\n"},
        {.name = "KilledRuns", .argv = {"/bin/sh", "-c", kKilledRuns, "{prometheus}", "{file}"},
          .out = "0\nk.prom\n" + down("1")},
        {.name = "StoppedWhileReplacing", .argv = {"/bin/sh", "-c", kStoppedWhileReplacing,
          "{prometheus}", "{file}"}, .out = "143\nk.prom\n" + down("1")},
        {.name = "OtherUsersPaths", .argv = {"/bin/sh", "-c", kOtherUsersPaths, "{prometheus}",
          "{file}"}, .out = "3\n3\n3\n3\n0\nown:\nfile\n\ntheirs:\nkorvalen_up 0\n",
          .err = "korvalen-prometheus: cannot write 'shared/k.prom': '{file}.d/shared/k.prom' "
          "belongs to nobody\nkorvalen-prometheus: cannot write 'theirs/k.prom': '{file}.d/theirs' "
          "belongs to nobody\nkorvalen-prometheus: cannot write 'shared/folder/k.prom': "
          "'{file}.d/shared/folder' belongs to nobody\nkorvalen-prometheus: cannot write "
          "'chain.prom': '{file}.d/theirs' belongs to nobody\n", .otherUsers = true},
        {.name = "LineFeedInName", .argv = {"{prometheus}", "{file}-none\n/k.prom"}, .status = 3,
          .err = "korvalen-prometheus: cannot write '{file}-none'$'\\n''/k.prom': No such file "
          "or directory\n"},
        {.name = "LongestName", .argv = {"/bin/sh", "-c", "n=${1##*/}; f=$1$(printf %0$((250 - "
          "${#n}))d 0).prom; \"$0\" \"$f\" && rm \"$f\"", "{prometheus}", "{file}"}},
        {.name = "StderrClosedByReader", .argv = {"/bin/sh", "-c", "{ sleep 0.2; \"$0\" \"$1.txt\";"
          " echo $? >\"$1.status\"; } 2>&1 | true; cat \"$1.status\"; rm \"$1.txt\" \"$1.status\"",
          "{prometheus}", "{file}"}, .out = "0\n"}}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
