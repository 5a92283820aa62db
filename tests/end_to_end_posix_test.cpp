// What only POSIX shows of korvalen-snapshot: objects that scripts or other users made under the
// block's name, and a full /dev/shm.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/block_bytes.h"
#include "support/posix_block.h"
#include "support/process.h"
#include "support/table.h"

namespace {

std::string snapshot() { return builtProgram("korvalen-snapshot"); }
std::string sim() { return builtProgram("korvalen-sim"); }

// Whatever a script or a stray program may leave under the name.
struct PlantedCase : TableRow {
  mode_t type;  // S_IFREG with `bytes`, S_IFIFO or S_IFDIR
  std::string bytes;
  int status;
  std::string out;
  std::string err;
};

class PlantedObject : public PosixBlock, public testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedObject, IsReadOrFailsToMapWithoutHanging) {
  // A FIFO would block a plain open until a writer came; a directory cannot be mapped.
  const PlantedCase& row = GetParam();
  if (row.type == S_IFREG) writeFile(kObjectPath, row.bytes);
  ASSERT_EQ(row.type == S_IFIFO   ? mkfifo(kObjectPath, 0644)
            : row.type == S_IFDIR ? mkdir(kObjectPath, 0755)
                                  : 0,
            0);
  const ProcessResult result = runProcess({snapshot()});
  if (row.type == S_IFDIR) rmdir(kObjectPath);
  EXPECT_EQ(result.status, row.status);
  EXPECT_EQ(result.out, row.out);
  EXPECT_EQ(result.err, row.err);
}

INSTANTIATE_TEST_SUITE_P(
    Planted, PlantedObject,
    testing::Values(PlantedCase{"FileWrittenByScript", S_IFREG,
                                bytesOf({.version = 12, .temperatures = {3, {1, -1, 100}}}), 0,
                                "Version: 12\nFlags: 0\nTemperatures: 0.01 -0.01 1.00\n", ""},
                    PlantedCase{"Fifo", S_IFIFO, "", 2, "", kMapError},
                    PlantedCase{"Directory", S_IFDIR, "", 2, "", kMapError}),
    testing::PrintToStringParamName());

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

INSTANTIATE_TEST_SUITE_P(Users, BlockOwner,
                         testing::Values(OwnerCase{"AnotherUsersBlockToRoot", "nobody", "", 1},
                                         OwnerCase{"AnotherUsersBlock", "nobody", "daemon", 1},
                                         OwnerCase{"OwnBlock", "nobody", "nobody", 0},
                                         OwnerCase{"RootsBlockToAUser", "", "daemon", 0},
                                         OwnerCase{"RootsOwnBlock", "", "", 0}),
                         testing::PrintToStringParamName());

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
