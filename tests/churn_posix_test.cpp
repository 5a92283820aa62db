// Snapshots taken while korvalen-sim rewrites the block as fast as it can: whatever the timing,
// every report must be well formed, and every value must come from the slot it is printed in.
// The block starts with no readings, so that a snapshot taken before the first rewrite holds
// nothing that the churn's rule (a slot's number in the low byte) does not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>

#include "support/block_bytes.h"
#include "support/process.h"

namespace {

constexpr int kSnapshots = 500;

// One report of the churned sample: the kinds in order, each with 1 to 32 values in its format,
// and no other space.
const std::regex kReport(
    "Version: 3\nFlags: 1\n(Temperatures:( -?(0|[1-9][0-9]*)\\.[0-9]{2}){1,32}\n)?"
    "(Fans:( -?(0|[1-9][0-9]*)){1,32}\n)?(Voltages:( -?(0|[1-9][0-9]*)\\.[0-9]{2}){1,32}\n)?");

// What is wrong with a well-formed `report`: a value that does not keep the number of its slot
// in its low byte. Empty when nothing is.
std::string misplacedValue(const std::string& report) {
  std::istringstream lines(report.substr(report.find("Flags: 1\n") + 9));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line.substr(line.find(':') + 1));
    std::string word;
    for (unsigned long long slot = 0; words >> word; ++slot) {
      std::erase(word, '.');
      if ((static_cast<unsigned long long>(std::stoll(word)) & 0xFF) != slot) {
        return "value " + word + " printed at position " + std::to_string(slot) + ": " + line;
      }
    }
  }
  return "";
}

TEST(Churn, EverySnapshotOfARewrittenBlockIsWellFormed) {
  const std::string loop = "i=0; while [ $i -lt " + std::to_string(kSnapshots) +
                           " ]; do \"$0\" || exit 1; i=$((i + 1)); done";
  const ProcessResult result = runProcess({sim(), "--block-version", "3", "--flags", "1", "--churn",
                                           "--", "/bin/sh", "-c", loop, snapshot()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // The reports, one after another, each well formed and each value in its place.
  int reports = 0;
  std::smatch report;
  for (auto at = result.out.cbegin(); at != result.out.cend(); at = report[0].second, ++reports) {
    ASSERT_TRUE(std::regex_search(at, result.out.cend(), report, kReport,
                                  std::regex_constants::match_continuous))
        << "not well formed, after " << reports << " reports:\n"
        << std::string(at, result.out.cend());
    const std::string problem = misplacedValue(report.str());
    ASSERT_EQ(problem, "") << report.str();
  }
  EXPECT_EQ(reports, kSnapshots);
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
    const ProcessResult result = runProcess({snapshot()});
    const bool reported = result.status == 0 && result.err.empty() &&
                          result.out == "Version: 9\nFlags: 0\nFans: 1200 -3\n";
    const bool mapError = result.status == 2 && result.out.empty() && result.err == kMapError;
    reports += reported;
    mapErrors += mapError;
    if (!reported && !mapError) {
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
