// What only POSIX shows of korvalen-sim: its commands' failures, blocks that others left under
// the name, and its lifetime under signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/block_bytes.h"
#include "support/outcome.h"
#include "support/posix_block.h"
#include "support/process.h"

namespace {

std::string snapshot() { return builtProgram("korvalen-snapshot"); }
std::string sim() { return builtProgram("korvalen-sim"); }

INSTANTIATE_TEST_SUITE_P(
    SimPosix, Outcome,
    testing::Values(
        OutcomeRow{"CommandsStatus", {"{sim}", "--", "/bin/sh", "-c", "exit 7"}, 7, "", ""},
        OutcomeRow{
            "CommandsSignal", {"{sim}", "--", "/bin/sh", "-c", "kill -TERM $$"}, 143, "", ""},
        OutcomeRow{"MissingProgram",
                   {"{sim}", "--", "/nonexistent/program"},
                   127,
                   "",
                   "korvalen-sim: cannot run /nonexistent/program: No such file or directory\n"},
        OutcomeRow{"RawInputWithoutEnd",
                   {"{sim}", "--raw", "/dev/zero", "--", "{snapshot}"},
                   66,
                   "",
                   "korvalen-sim: --raw: '/dev/zero' holds more than 1048576 bytes\n"}),
    testing::PrintToStringParamName());

TEST_F(PosixBlock, SimLeavesExistingBlockAloneUnlessReplacing) {
  writeFile(kObjectPath, bytesOf(BlockDescription{.version = 77}));

  ProcessResult result = runProcess({sim(), "--sample", "--", snapshot()});
  EXPECT_EQ(result.status, 73);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "korvalen-sim: KVSharedMemory_QDX is already published; not touching it (use "
            "--replace to remove a stale one)\n");
  EXPECT_EQ(runProcess({snapshot()}).out, "Version: 77\nFlags: 0\n");

  result = runProcess({sim(), "--replace", "--block-version", "78", "--", snapshot()});
  EXPECT_EQ(result.out, "Version: 78\nFlags: 0\n");
  EXPECT_FALSE(objectExists());
}

TEST_F(PosixBlock, HoldingSimWithdrawsOnEveryStop) {
  for (int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, 0}) {
    BackgroundProcess holder = startInBackground({sim(), "--sample"}, true);
    awaitObject();
    EXPECT_EQ(runProcess({snapshot()}).status, 0);
    if (stop != 0) kill(holder.pid, stop);
    // The end of input is the stop itself, or nothing left to wait for after a signal.
    EXPECT_EQ(awaitEnd(holder), 0) << "stop " << stop;
    EXPECT_FALSE(objectExists()) << "stop " << stop;
  }
}

TEST_F(PosixBlock, StopSentJustAfterStartIsNeverLost) {
  // Whenever the stop lands, the simulator ends at once: killed before it published anything,
  // or by passing the stop on to its command. It never waits out the command.
  for (int attempt = 0; attempt < 60; ++attempt) {
    BackgroundProcess child = startInBackground({sim(), "--sample", "--", "sleep", "30"}, false);
    std::this_thread::sleep_for(std::chrono::microseconds(attempt * 50));
    kill(child.pid, SIGTERM);
    ASSERT_EQ(awaitEnd(child), 128 + SIGTERM) << "attempt " << attempt;
    ASSERT_FALSE(objectExists()) << "attempt " << attempt;
  }
}

TEST_F(PosixBlock, SimWithdrawsOnlyItsOwnBlock) {
  BackgroundProcess first = startInBackground({sim(), "--sample"}, true);
  awaitObject();
  BackgroundProcess second = startInBackground({sim(), "--replace", "--block-version", "2"}, true);
  for (int i = 0; i < 500 && runProcess({snapshot()}).out.rfind("Version: 2\n", 0) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(first.pid, SIGTERM);
  EXPECT_EQ(awaitEnd(first), 0);
  EXPECT_EQ(runProcess({snapshot()}).out, "Version: 2\nFlags: 0\n") << "the second block is gone";
  EXPECT_EQ(awaitEnd(second), 0);
  EXPECT_FALSE(objectExists());
}

TEST_F(PosixBlock, BackgroundRecipeWithdrawsAndLeavesNothingRunning) {
  // The README's recipe, with a sleep that no one else runs.
  const std::string recipe =
      "\"$1\" --sample -- sleep 86399 & sim=$!\n"
      "until \"$2\" >/dev/null 2>&1; do sleep 0.05; done\n"
      "\"$2\"\n"
      "kill $sim; wait $sim; echo \"sim $?\"\n";
  const ProcessResult result = runProcess({"/bin/sh", "-c", recipe, "sh", sim(), snapshot()});
  EXPECT_EQ(result.out, kSampleReport + "sim 143\n");
  EXPECT_FALSE(objectExists());
  for (const auto& process : std::filesystem::directory_iterator("/proc")) {
    const std::string commandLine = readFile((process.path() / "cmdline").string());
    EXPECT_NE(commandLine, std::string("sleep\0"
                                       "86399\0",
                                       12))
        << process.path() << " still runs";
  }
}

TEST_F(PosixBlock, ReplaceSaysWhyItCannotRemove) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to publish a block that another user meets";
  writeFile(kObjectPath, bytesOf(BlockDescription{.version = 5}));
  const ProcessResult result =
      runProcess(asUser("daemon", {sim(), "--replace", "--sample", "--", "true"}));
  EXPECT_EQ(result.status, 73);
  EXPECT_EQ(result.err,
            "korvalen-sim: --replace: cannot remove KVSharedMemory_QDX: Permission denied\n");
  EXPECT_EQ(runProcess({snapshot()}).out, "Version: 5\nFlags: 0\n");
}

}  // namespace
