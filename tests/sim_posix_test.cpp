// What only POSIX shows of korvalen-sim: its commands' failures, blocks that others left under
// the name, and its lifetime under signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "outcome.h"
#include "support/block_bytes.h"
#include "support/posix_block.h"

namespace {

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    SimPosix, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "CommandsStatus", .argv = {"{sim}", "--", "/bin/sh", "-c", "exit 7"}, .status = 7},
        {.name = "CommandsSignal", .argv = {"{sim}", "--", "/bin/sh", "-c", "kill -TERM $$"},
          .status = 143},
        {.name = "MissingProgram", .argv = {"{sim}", "--", "/nonexistent/program"}, .status = 127,
          .err = "korvalen-sim: cannot run /nonexistent/program: No such file or directory\n"},
        {.name = "ExistingBlockLeftAlone",
          .argv = overPlanted("cp \"$2\" $o", "\"$0\" --sample -- \"$1\"; echo \"sim $?\"; \"$1\""),
          .out = "sim 73\nVersion: 77\nFlags: 0\n", .err = "korvalen-sim: KVSharedMemory_QDX is "
          "already published; not touching it (use --replace to remove a stale one)\n",
          .file = bytesOf({.version = 77})},
        {.name = "ReplaceRemovesAStaleBlock", .argv = overPlanted("cp \"$2\" $o",
          "\"$0\" --replace --block-version 78 -- \"$1\" && [ ! -e $o ]"),
          .out = "Version: 78\nFlags: 0\n", .file = bytesOf({.version = 77})},
        {.name = "RawInputWithoutEnd", .argv = {"{sim}", "--raw", "/dev/zero", "--", "{snapshot}"},
          .status = 66, .err = "korvalen-sim: --raw: '/dev/zero' holds more than 1048576 bytes\n"},
        {.name = "StoppedWhileWaitingForRawInput", .argv = {"/bin/sh", "-c", "mkfifo \"$1.in\" && "
          "{ \"$0\" --raw \"$1.in\" & sleep 0.3; kill $!; wait $! 2>/dev/null; echo $?; rm \"$1.in\"; }",
          "{sim}", "{file}"}, .out = "143\n"}}),
    testing::PrintToStringParamName());
// clang-format on

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
