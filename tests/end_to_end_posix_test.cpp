// What only POSIX shows: writes that fail under the tool, objects made by scripts in /dev/shm,
// and the simulator's lifetime under signals and end of input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/block_bytes.h"
#include "support/process.h"

extern char** environ;

namespace {

const char* const kObjectPath = "/dev/shm/KVSharedMemory_QDX";

std::string snapshot() { return builtProgram("korvalen-snapshot"); }
std::string sim() { return builtProgram("korvalen-sim"); }

bool objectExists() {
  struct stat status;
  return lstat(kObjectPath, &status) == 0;
}

// Removes whatever a test left under the block's name.
class PosixBlock : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(objectExists()) << kObjectPath << " is in use"; }
  void TearDown() override { unlink(kObjectPath); }
};

TEST_F(PosixBlock, FailingOutputLeavesStatusZero) {
  for (OutputSink sink : {OutputSink::closedPipe, OutputSink::fullDevice}) {
    const ProcessResult result = runProcess({sim(), "--sample", "--", snapshot()}, sink);
    EXPECT_EQ(result.status, 0) << "sink " << static_cast<int>(sink);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(PosixBlock, ReadsObjectWrittenByScript) {
  const BlockDescription block{.version = 12, .temperatures = {3, {1, -1, 100}}};
  writeFile(kObjectPath, std::string(bytesOf(block)));
  const ProcessResult result = runProcess({snapshot()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Version: 12\nFlags: 0\nTemperatures: 0.01 -0.01 1.00\n");
}

TEST_F(PosixBlock, NonRegularObjectsFailToMapWithoutHanging) {
  // A FIFO would block a plain open until a writer came; a directory cannot be mapped.
  ASSERT_EQ(mkfifo(kObjectPath, 0644), 0);
  ProcessResult result = runProcess({snapshot()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Korvalen MapViewOfFile Error.\n");
  unlink(kObjectPath);

  ASSERT_EQ(mkdir(kObjectPath, 0755), 0);
  result = runProcess({snapshot()});
  rmdir(kObjectPath);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "Korvalen MapViewOfFile Error.\n");
}

TEST_F(PosixBlock, SimLeavesExistingBlockAloneUnlessReplacing) {
  const std::string stale = std::string(bytesOf(BlockDescription{.version = 77}));
  writeFile(kObjectPath, stale);

  ProcessResult result = runProcess({sim(), "--sample", "--", snapshot()});
  EXPECT_EQ(result.status, 73);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "korvalen-sim: KVSharedMemory_QDX is already published; not touching it (use "
            "--replace to remove a stale one)\n");
  EXPECT_EQ(runProcess({snapshot()}).out, "Version: 77\nFlags: 0\n");

  result = runProcess({sim(), "--replace", "--version", "78", "--", snapshot()});
  EXPECT_EQ(result.out, "Version: 78\nFlags: 0\n");
  EXPECT_FALSE(objectExists());
}

TEST_F(PosixBlock, SimPassesOnFailuresOfItsCommand) {
  EXPECT_EQ(runProcess({sim(), "--", "/bin/sh", "-c", "exit 7"}).status, 7);
  EXPECT_EQ(runProcess({sim(), "--", "/bin/sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
  const ProcessResult missing = runProcess({sim(), "--", "/nonexistent/program"});
  EXPECT_EQ(missing.status, 127);
  EXPECT_EQ(missing.err,
            "korvalen-sim: cannot run /nonexistent/program: No such file or directory\n");
  EXPECT_FALSE(objectExists());
}

// Starts a holding sim whose standard input is the read end of a pipe we keep.
pid_t startHoldingSim(int* inputWriteEnd) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  posix_spawn_file_actions_addclose(&actions, ends[1]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string path = sim();
  char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("--sample"), nullptr};
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[0]);
  *inputWriteEnd = ends[1];
  for (int i = 0; i < 500 && !objectExists(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return child;
}

TEST_F(PosixBlock, HoldingSimWithdrawsOnEveryStop) {
  for (int stop : {SIGINT, SIGTERM, 0}) {
    int input;
    const pid_t child = startHoldingSim(&input);
    ASSERT_TRUE(objectExists());
    EXPECT_EQ(runProcess({snapshot()}).status, 0);
    if (stop != 0) kill(child, stop);
    close(input);  // end of input, or nothing left to wait for after a signal
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "stop " << stop;
    EXPECT_FALSE(objectExists()) << "stop " << stop;
  }
}

}  // namespace
