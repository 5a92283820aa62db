// Runs each Outcome row: its command line expanded, its output and error matched.
#include "outcome.h"

#include <string_view>
#include <utility>

#include "prometheus_textfile.h"

namespace {

// `text` with the placeholders of an OutcomeRow replaced.
std::string expand(std::string text, const std::string& file) {
  const std::pair<std::string, std::string> placeholders[] = {
      {"{sim}", sim()},
      {"{snapshot}", snapshot()},
      {"{prometheus}", prometheus()},
      {"{sensors}", builtProgram("korvalen-sensors")},
      {"{mqtt}", builtProgram("korvalen-mqtt")},
      {"{folder}", sim().substr(0, sim().find_last_of("\\/"))},
      {"{file}", file}};
  for (const auto& [key, value] : placeholders) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

// Whether `text` matches `pattern`, where '*' stands for any run of characters within a line.
bool matches(std::string_view text, std::string_view pattern) {
  if (pattern.empty() || pattern[0] != '*') {
    return pattern.empty() ? text.empty()
                           : !text.empty() && text[0] == pattern[0] &&
                                 matches(text.substr(1), pattern.substr(1));
  }
  for (std::size_t skipped = 0;; ++skipped) {
    if (matches(text.substr(skipped), pattern.substr(1))) return true;
    if (skipped == text.size() || text[skipped] == '\n') return false;
  }
}

// Every test of this program publishes in a /dev/shm of its own, where one can be had.
class PrivateBlockFolder : public testing::Environment {
  void SetUp() override { usePrivateBlockFolder(); }
};
testing::Environment* const kPrivateBlockFolder =
    testing::AddGlobalTestEnvironment(new PrivateBlockFolder);

}  // namespace

TEST_P(Outcome, EndsAsExpected) {
  const OutcomeRow& row = GetParam();
  const std::string file = scratchPath("file.prom");  // as korvalen-prometheus expects
  if (!row.file.empty()) writeFile(file, row.file);
  std::vector<std::string> argv;
  for (const std::string& arg : row.argv) argv.push_back(expand(arg, file));
  if (argv[0] == "{unprivileged}") argv = withoutPrivilege({argv.begin() + 1, argv.end()});
  const std::time_t started = std::time(nullptr);
  const ProcessResult result = runProcess(argv, row.sink);
  if (!row.written.empty()) {
    EXPECT_EQ(normalizedTextfile(readFile(file), started), row.written);
  }
  std::remove(file.c_str());
  EXPECT_EQ(result.status, row.status) << result.err;
  EXPECT_PRED2(matches, result.out, textModeLines(expand(row.out, file)));
  EXPECT_PRED2(matches, result.err, textModeLines(expand(row.err, file)));
  EXPECT_EQ(runProcess({snapshot()}).status, 1) << "a block was left published";
}
