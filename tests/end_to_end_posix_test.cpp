// What only POSIX shows of korvalen-snapshot: objects that scripts or other users made under the
// block's name, and a full /dev/shm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "outcome.h"
#include "support/block_bytes.h"
#include "support/posix_block.h"

namespace {

// A FIFO would block a plain open until a writer came; a directory cannot be mapped; a block with
// a second name, or that others may write, may hold anyone's readings.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Planted, Outcome,
    testing::ValuesIn(std::vector<OutcomeRow>{
        {.name = "FileWrittenByScript", .argv = overPlanted("cp \"$2\" $o", "\"$1\""),
          .out = "Version: 12\nFlags: 0\nTemperatures: 0.01 -0.01 1.00\n",
          .file = bytesOf({.version = 12, .temperatures = {3, {1, -1, 100}}})},
        {.name = "Fifo", .argv = overPlanted("mkfifo $o", "\"$1\""), .status = 2, .err = kMapError},
        {.name = "Directory", .argv = overPlanted("mkdir $o", "\"$1\""), .status = 2,
          .err = kMapError},
        {.name = "SecondName", .argv = overPlanted("cp \"$2\" $o.1 && ln $o.1 $o",
          "\"$1\"; s=$?; rm $o.1; (exit $s)"), .status = 1, .err = kOpenError, .file = bytesOf({})},
        {.name = "WritableByOthers", .argv = overPlanted("cp \"$2\" $o && chmod 666 $o", "\"$1\""),
          .status = 1, .err = kOpenError, .file = bytesOf({})}}),
    testing::PrintToStringParamName());
// clang-format on

// The block's owner and its reader: only the reader's own blocks and root's are read.
struct OwnerCase : TableRow {
  const char* owner;  // "" for the test's own user, root
  const char* reader;
  int status;
};

class BlockOwner : public PosixBlock, public testing::WithParamInterface<OwnerCase> {};

TEST_P(BlockOwner, OnlyTrustedOwnersBlocksAreRead) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to publish and read as other users";
  const auto as = [](const char* user, const std::vector<std::string>& argv) {
    return *user != '\0' ? asUser(user, argv) : argv;
  };
  BackgroundProcess publisher = startInBackground(as(GetParam().owner, {sim(), "--sample"}), true);
  awaitObject();
  const ProcessResult result = runProcess(as(GetParam().reader, {snapshot()}));
  EXPECT_EQ(awaitEnd(publisher), 0);
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.out, GetParam().status == 0 ? kSampleReport : "");
  EXPECT_EQ(result.err, GetParam().status == 0 ? "" : kOpenError);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Users, BlockOwner,
    testing::Values(OwnerCase{"AnotherUsersBlockToRoot", "nobody", "", 1},
                    OwnerCase{"AnotherUsersBlock", "nobody", "daemon", 1},
                    OwnerCase{"OwnBlock", "nobody", "nobody", 0},
                    OwnerCase{"RootsBlockToAUser", "", "daemon", 0},
                    OwnerCase{"RootsOwnBlock", "", "", 0}),
    testing::PrintToStringParamName());
// clang-format on

// korvalen-mqtt's topics at MQTT's longest, 65535 bytes, and one beyond: the longest is a
// reading's limits, PREFIX/n1/temperature/31/limits. (No Windows command line is that long.)
OutcomeRow longestTopic(const char* name, std::size_t prefix, int status, const char* err) {
  return {.name = name, .argv = {"{mqtt}", "--node", "n1", "--topic-prefix",
          std::string(prefix, 'k'), "127.0.0.1:1"}, .status = status, .err = err};
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Mqtt, Outcome,
    testing::Values(
        longestTopic("TopicsAtTheirLongest", 65510, 69, "korvalen-mqtt: 127.0.0.1:1: *\n"),
        longestTopic("TopicsTooLong", 65511, 64, "korvalen-mqtt: the topics of --discovery-prefix, "
                     "--topic-prefix and --node are longer than MQTT's 65535 bytes\n*\n")),
    testing::PrintToStringParamName());
// clang-format on

TEST_F(PosixBlock, FullSharedMemoryFailsCleanly) {
  // A private /dev/shm of two pages, filled: the simulator cannot allocate its block and leaves
  // nothing, and a block that a script merely sized there cannot be read.
  if (runProcess({"/usr/bin/unshare", "-m", "--propagation", "private", "true"}).status != 0) {
    GTEST_SKIP() << "no private mount namespace here: unshare -m is not allowed";
  }
  const ProcessResult result =
      runProcess({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                  "mount -t tmpfs -o size=8k tmpfs /dev/shm || exit 99\n"
                  "head -c 8192 /dev/zero >/dev/shm/filler\n"
                  "\"$1\" --sample -- true; echo \"sim $?\"; ls /dev/shm\n"
                  "truncate -s 402 /dev/shm/KVSharedMemory_QDX; \"$2\"; echo \"snapshot $?\"\n"
                  "\"$3\" \"$4\"; echo \"prometheus $?\"; grep ^korvalen_s \"$4\"; rm \"$4\"\n"
                  "\"$3\" /dev/shm/k.prom; echo \"prometheus $?\"; ls /dev/shm\n",
                  "sh", sim(), snapshot(), prometheus(), scratchPath("fault.prom")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "sim 73\nfiller\nsnapshot 2\nprometheus 0\nkorvalen_snapshot_status 2\nprometheus 3\n"
            "KVSharedMemory_QDX\nfiller\n");
  EXPECT_EQ(result.err,
            "korvalen-sim: cannot allocate 402 bytes for KVSharedMemory_QDX: No space "
            "left on device\n" +
                kMapError +
                "korvalen-prometheus: cannot write '/dev/shm/k.prom': No space left on device\n");
}

}  // namespace
