// Snapshots taken while korvalen-sim rewrites the block as fast as it can: whatever the timing,
// every report must be well formed, and every value must come from the slot it is printed in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/block_bytes.h"
#include "support/process.h"

namespace {

constexpr int kSnapshots = 500;

// Parses a value in the kind's format; returns false when it is not in that format.
bool parseValue(const std::string& text, bool scaled, long long* value) {
  std::size_t at = text.size() > 0 && text[0] == '-' ? 1 : 0;
  const std::size_t digitsFrom = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  if (at == digitsFrom || (at - digitsFrom > 1 && text[digitsFrom] == '0')) return false;
  std::string digits = text.substr(digitsFrom, at - digitsFrom);
  if (scaled) {
    if (text.size() != at + 3 || text[at] != '.' || !isdigit(text[at + 1]) ||
        !isdigit(text[at + 2])) {
      return false;
    }
    digits += text.substr(at + 1, 2);
  } else if (at != text.size()) {
    return false;
  }
  *value = std::stoll(digits) * (digitsFrom == 1 ? -1 : 1);
  return true;
}

// Checks one report; returns what is wrong with it, or an empty string.
std::string checkReport(const std::string& report) {
  std::istringstream lines(report);
  std::string line;
  if (!std::getline(lines, line) || line != "Version: 3") return "bad version line: " + line;
  if (!std::getline(lines, line) || line != "Flags: 1") return "bad flags line: " + line;
  const struct {
    const char* label;
    bool scaled;
  } kinds[] = {{"Temperatures:", true}, {"Fans:", false}, {"Voltages:", true}};
  std::size_t nextKind = 0;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string label;
    words >> label;
    while (nextKind < 3 && label != kinds[nextKind].label) ++nextKind;
    if (nextKind == 3) return "label out of order or unknown: " + line;
    const bool scaled = kinds[nextKind++].scaled;
    if (line.back() == ' ' || line.find("  ") != std::string::npos) return "spacing: " + line;
    std::string word;
    long long slot = 0;
    for (; words >> word; ++slot) {
      long long value;
      if (!parseValue(word, scaled, &value)) return "value format: " + line;
      if ((static_cast<unsigned long long>(value) & 0xFF) !=
          static_cast<unsigned long long>(slot)) {
        return "value " + word + " printed at position " + std::to_string(slot) + ": " + line;
      }
    }
    if (slot == 0) return "label without values: " + line;
    if (slot > 32) return "more than 32 values: " + line;
  }
  return "";
}

TEST(Churn, EverySnapshotOfARewrittenBlockIsWellFormed) {
  const std::string loop = "i=0; while [ $i -lt " + std::to_string(kSnapshots) +
                           " ]; do \"$0\" || exit 1; i=$((i + 1)); done";
  const ProcessResult result =
      runProcess({builtProgram("korvalen-sim"), "--sample", "--churn", "--", "/bin/sh", "-c", loop,
                  builtProgram("korvalen-snapshot")});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  ASSERT_EQ(result.out.back(), '\n');

  // Each snapshot starts with its version line.
  std::vector<std::string> reports;
  for (std::size_t from = 0; from < result.out.size();) {
    std::size_t next = result.out.find("Version: ", from + 1);
    if (next == std::string::npos) next = result.out.size();
    reports.push_back(result.out.substr(from, next - from));
    from = next;
  }
  ASSERT_EQ(reports.size(), static_cast<std::size_t>(kSnapshots));
  int failures = 0;
  for (const std::string& report : reports) {
    const std::string problem = checkReport(report);
    if (!problem.empty() && ++failures <= 5) ADD_FAILURE() << problem << "\nin:\n" << report;
  }
  EXPECT_EQ(failures, 0);
}

TEST(Churn, BlockRecreatedUnderTheReaderEndsInReportOrMapError) {
  // A publisher that keeps cutting its block to nothing and writing it back: a reader finds the
  // whole block, or memory that is gone, which must end in the map error and never in a signal.
  const char* const path = "/dev/shm/KVSharedMemory_QDX";
  const BlockDescription block{.version = 9, .fans = {2, {1200, -3}}};
  const std::string bytes = bytesOf(block);
  const int fd = open(path, O_RDWR | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(fd, 0) << path << " is in use";
  const pid_t publisher = fork();
  if (publisher == 0) {
    for (;;) {
      if (ftruncate(fd, 0) != 0 || pwrite(fd, bytes.data(), bytes.size(), 0) < 0) _exit(1);
    }
  }
  close(fd);

  int reports = 0, mapErrors = 0;
  for (int run = 0; run < 300; ++run) {
    const ProcessResult result = runProcess({builtProgram("korvalen-snapshot")});
    if (result.status == 0 && result.out == "Version: 9\nFlags: 0\nFans: 1200 -3\n" &&
        result.err.empty()) {
      ++reports;
    } else if (result.status == 2 && result.out.empty() && result.err == kMapError) {
      ++mapErrors;
    } else {
      ADD_FAILURE() << "run " << run << ": status " << result.status << "\nout: " << result.out
                    << "\nerr: " << result.err;
      break;
    }
  }
  kill(publisher, SIGKILL);
  waitpid(publisher, nullptr, 0);
  unlink(path);
  std::printf("%d reports, %d map errors\n", reports, mapErrors);
  EXPECT_GT(mapErrors, 0) << "the fault path was never reached: every run found the whole block";
}

}  // namespace
