// korvalen-prometheus on Windows alone: a device's name refused, and the device left alone;
// temporaries that killed runs left removed.
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "outcome.h"

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

// Temporaries beside OUTPUT: one that no run holds open is removed, one held open stays.
TEST(PrometheusWindowsTextfile, RemovesOnlyAbandonedTemporaries) {
  const std::filesystem::path folder = scratchPath("temporaries");
  std::filesystem::create_directory(folder);
  for (const char* name : {".k.prom.tmp-9999-0", ".k.prom.tmp-9999-1"})
    writeFile((folder / name).string(), "left by a run");
  std::FILE* held = std::fopen((folder / ".k.prom.tmp-9999-1").string().c_str(), "rbN");
  EXPECT_EQ(runProcess({prometheus(), (folder / "k.prom").string()}).status, 0);
  std::fclose(held);
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{".k.prom.tmp-9999-1", "k.prom"}));
  std::filesystem::remove_all(folder);
}
