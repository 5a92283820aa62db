// What only POSIX shows: writes that fail under the tool, objects made by scripts or by other
// users in /dev/shm, a full /dev/shm, and the simulator's lifetime under signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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
  EXPECT_EQ(result.err, kMapError);
  unlink(kObjectPath);

  ASSERT_EQ(mkdir(kObjectPath, 0755), 0);
  result = runProcess({snapshot()});
  rmdir(kObjectPath);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, kMapError);
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

  result = runProcess({sim(), "--replace", "--block-version", "78", "--", snapshot()});
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

TEST_F(PosixBlock, SimRefusesRawInputWithoutEnd) {
  const ProcessResult result = runProcess({sim(), "--raw", "/dev/zero", "--", snapshot()});
  EXPECT_EQ(result.status, 66);
  EXPECT_EQ(result.err, "korvalen-sim: --raw: '/dev/zero' holds more than 1048576 bytes\n");
  EXPECT_FALSE(objectExists());
}

// Starts korvalen-sim with `args`; its standard input is the read end of a pipe that we keep in
// `*inputWriteEnd`, or /dev/null when that is null.
pid_t startSim(const std::vector<std::string>& args, int* inputWriteEnd) {
  int ends[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (inputWriteEnd != nullptr) {
    EXPECT_EQ(pipe(ends), 0);
    posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    posix_spawn_file_actions_addclose(&actions, ends[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  if (inputWriteEnd != nullptr) {
    close(ends[0]);
    *inputWriteEnd = ends[1];
  }
  return child;
}

// Waits up to five seconds for the block to appear.
void awaitObject() {
  for (int i = 0; i < 500 && !objectExists(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
// Waits up to five seconds for `child` to end; returns its wait status, or -1 when it had to be
// killed.
int awaitEnd(pid_t child) {
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    if (waitpid(child, &status, WNOHANG) == child) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

TEST_F(PosixBlock, HoldingSimWithdrawsOnEveryStop) {
  for (int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, 0}) {
    int input;
    const pid_t child = startSim({sim(), "--sample"}, &input);
    awaitObject();
    EXPECT_EQ(runProcess({snapshot()}).status, 0);
    if (stop != 0) kill(child, stop);
    close(input);  // end of input, or nothing left to wait for after a signal
    const int status = awaitEnd(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "stop " << stop;
    EXPECT_FALSE(objectExists()) << "stop " << stop;
  }
}

TEST_F(PosixBlock, StopSentJustAfterStartIsNeverLost) {
  // Whenever the stop lands, the simulator ends at once: killed before it published anything,
  // or by passing the stop on to its command. It never waits out the command.
  for (int attempt = 0; attempt < 60; ++attempt) {
    const pid_t child = startSim({sim(), "--sample", "--", "sleep", "30"}, nullptr);
    std::this_thread::sleep_for(std::chrono::microseconds(attempt * 50));
    kill(child, SIGTERM);
    const int status = awaitEnd(child);
    ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM))
        << "attempt " << attempt << ": wait status " << status;
    ASSERT_FALSE(objectExists()) << "attempt " << attempt;
  }
}

TEST_F(PosixBlock, SimWithdrawsOnlyItsOwnBlock) {
  int firstInput, secondInput;
  const pid_t first = startSim({sim(), "--sample"}, &firstInput);
  awaitObject();
  const pid_t second = startSim({sim(), "--replace", "--block-version", "2"}, &secondInput);
  for (int i = 0; i < 500 && runProcess({snapshot()}).out.rfind("Version: 2\n", 0) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(first, SIGTERM);
  close(firstInput);
  EXPECT_EQ(awaitEnd(first), 0);
  EXPECT_EQ(runProcess({snapshot()}).out, "Version: 2\nFlags: 0\n") << "the second block is gone";
  close(secondInput);
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

// The block's owner and its reader: only the reader's own blocks and root's are read.
struct OwnerCase {
  const char* name;
  const char* owner;  // "" for the test's own user, root
  const char* reader;
  int status;
};

void PrintTo(const OwnerCase& c, std::ostream* os) { *os << c.name; }

class BlockOwner : public PosixBlock, public testing::WithParamInterface<OwnerCase> {};

TEST_P(BlockOwner, OnlyTrustedOwnersBlocksAreRead) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to publish and read as other users";
  const auto as = [](const char* user, const std::vector<std::string>& argv) {
    return *user != '\0' ? asUser(user, argv) : argv;
  };
  int input;
  const pid_t publisher = startSim(as(GetParam().owner, {sim(), "--sample"}), &input);
  awaitObject();
  const ProcessResult result = runProcess(as(GetParam().reader, {snapshot()}));
  close(input);
  EXPECT_EQ(awaitEnd(publisher), 0);
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.out, GetParam().status == 0 ? kSampleReport : "");
  EXPECT_EQ(result.err, GetParam().status == 0 ? "" : kOpenError);
}

INSTANTIATE_TEST_SUITE_P(Users, BlockOwner,
                         testing::Values(OwnerCase{"AnotherUsersBlockToRoot", "nobody", "", 1},
                                         OwnerCase{"AnotherUsersBlock", "nobody", "daemon", 1},
                                         OwnerCase{"OwnBlock", "nobody", "nobody", 0},
                                         OwnerCase{"RootsBlockToAUser", "", "daemon", 0},
                                         OwnerCase{"RootsOwnBlock", "", "", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

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

TEST_F(PosixBlock, FullSharedMemoryFailsCleanly) {
  // A private /dev/shm of two pages, filled: the simulator cannot allocate its block and leaves
  // nothing, and a block that a script merely sized there cannot be read.
  const std::vector<std::string> privateMounts{"/usr/bin/unshare", "-m", "--propagation",
                                               "private"};
  std::vector<std::string> probe = privateMounts;
  probe.push_back("/bin/true");
  try {
    if (runProcess(probe).status != 0) throw std::runtime_error("refused");
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no private mount namespace here: unshare -m is not allowed";
  }
  const std::string script =
      "mount -t tmpfs -o size=8k tmpfs /dev/shm || exit 99\n"
      "head -c 8192 /dev/zero >/dev/shm/filler\n"
      "\"$1\" --sample -- true; echo \"sim $?\"; ls /dev/shm\n"
      "truncate -s 402 /dev/shm/KVSharedMemory_QDX; \"$2\"; echo \"snapshot $?\"\n";
  std::vector<std::string> argv = privateMounts;
  argv.insert(argv.end(), {"/bin/sh", "-c", script, "sh", sim(), snapshot()});
  const ProcessResult result = runProcess(argv);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "sim 73\nfiller\nsnapshot 2\n");
  EXPECT_EQ(result.err,
            "korvalen-sim: cannot allocate 402 bytes for KVSharedMemory_QDX: No space left on "
            "device\n" +
                kMapError);
}

}  // namespace
