// korvalen-prometheus on Windows alone: a device's name refused, and the device left alone;
// temporaries that killed runs left removed, and none left once a run has ended.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "outcome.h"
#include "prometheus_textfile.h"

namespace {

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    PrometheusWindows, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "OutputNul", .argv = {"{prometheus}", "NUL"}, .status = 3,
          .err = "korvalen-prometheus: cannot write 'NUL': not a regular file\n"},
        {.name = "OutputCon", .argv = {"{prometheus}", "CON"}, .status = 3,
          .err = "korvalen-prometheus: cannot write 'CON': not a regular file\n"}}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace

// The names in `folder`.
std::set<std::string> namesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// Temporaries beside OUTPUT: one that no run holds open is removed, one held open stays.
TEST(PrometheusWindowsTextfile, RemovesOnlyAbandonedTemporaries) {
  const std::filesystem::path folder = scratchPath("temporaries");
  std::filesystem::create_directory(folder);
  for (const char* name : {".k.prom.tmp-9999-0", ".k.prom.tmp-9999-1"})
    writeFile((folder / name).string(), "left by a run");
  std::FILE* held = std::fopen((folder / ".k.prom.tmp-9999-1").string().c_str(), "rbN");
  EXPECT_EQ(runProcess({prometheus(), (folder / "k.prom").string()}).status, 0);
  std::fclose(held);
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{".k.prom.tmp-9999-1", "k.prom"}));
  std::filesystem::remove_all(folder);
}

// Runs ended by TerminateProcess at random instants, then one more: nothing but OUTPUT is left,
// whole.
TEST(PrometheusWindowsTextfile, KilledRunsLeaveNothingBehind) {
  const std::filesystem::path folder = scratchPath("killed");
  std::filesystem::create_directory(folder);
  std::string line = "\"" + prometheus() + "\" \"" + (folder / "k.prom").string() + "\"";
  std::minstd_rand random(20261209);
  for (int run = 0; run < 30; ++run) {
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION child;
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    Sleep(random() % 300);
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  const std::time_t started = std::time(nullptr);
  const ProcessResult last = runProcess({prometheus(), (folder / "k.prom").string()});
  EXPECT_EQ(last.status, 0) << last.err;
  EXPECT_EQ(last.err, "");
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"k.prom"});
  EXPECT_EQ(normalizedTextfile(readFile((folder / "k.prom").string()), started), head(1));
  std::filesystem::remove_all(folder);
}

// A sensors file as Notepad saves it (UTF-8 with a byte-order mark, CR LF), in a folder whose name
// has spaces, as an operator's task line gives it.
TEST(PrometheusWindowsSensors, ReadsNotepadsFileInAFolderWithSpaces) {
  const std::filesystem::path folder = scratchPath("sensors folder");
  std::filesystem::create_directory(folder);
  const std::string file = (folder / "my sensors.toml").string();
  writeFile(file, "\xEF\xBB\xBF[temperature.0]\r\nname = \"CPU Package\"\r\nmax = 85\r\n");
  const ProcessResult result = runProcess({prometheus(), "--sensors", file, "--check"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, textModeLines("temperature 0 \"CPU Package\" max 85.00\n"));
  std::filesystem::remove_all(folder);
}
