// The parts that replace the textfile on POSIX, each alone: where the path walker lands, and what
// the atomic writer leaves. What needs another user stands in shell/other_users_as_root.sh.
#include "textfile_posix.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/process.h"
#include "support/table.h"

namespace {

namespace fs = std::filesystem;

// A folder laid out for a row: each entry "d NAME" a folder, "f NAME" a file, "p NAME" a FIFO,
// "l NAME TARGET" a link ({s} in TARGET stands for the folder's own path), "h NAME TARGET" a
// second name of TARGET.
struct WalkCase : TableRow {
  std::vector<std::string> layout;
  std::string output;           // relative to the folder, or absolute
  std::string folder;           // where the file lands, relative to the folder; none: refused
  std::string file = "k.prom";  // its name there
  std::string reason = {};
};

class PathWalker : public testing::TestWithParam<WalkCase> {};

// `text` with {s} as the folder `at`.
std::string within(std::string text, const fs::path& at) {
  if (const std::size_t s = text.find("{s}"); s != std::string::npos) text.replace(s, 3, at);
  return text;
}

void lay(const fs::path& at, const std::string& entry) {
  const std::string name = entry.substr(2, entry.find(' ', 2) - 2);
  const std::string target = within(
      entry.find(' ', 2) == std::string::npos ? "" : entry.substr(entry.find(' ', 2) + 1), at);
  if (entry[0] == 'd') fs::create_directories(at / name);
  if (entry[0] == 'f') writeFile(at / name, "old");
  if (entry[0] == 'p') mkfifo((at / name).c_str(), 0600);
  if (entry[0] == 'l') fs::create_symlink(target, at / name);
  if (entry[0] == 'h') linkat(AT_FDCWD, (at / target).c_str(), AT_FDCWD, (at / name).c_str(), 0);
}

TEST_P(PathWalker, LandsWhereThePathLeads) {
  const WalkCase& row = GetParam();
  const fs::path at = scratchPath("walk");
  fs::create_directory(at);
  for (const std::string& entry : row.layout) lay(at, entry);
  fs::current_path(at);
  OutputPlace place;
  std::string reason;
  const bool resolved = resolveOutput(within(row.output, at), &place, &reason);
  EXPECT_EQ(resolved ? "" : reason, within(row.reason, at));
  if (resolved) {
    struct stat got, expected;
    ASSERT_EQ(fstat(place.folder, &got), 0);
    ASSERT_EQ(stat((at / row.folder).c_str(), &expected), 0);
    EXPECT_EQ(got.st_ino, expected.st_ino) << "not in " << row.folder;
    EXPECT_EQ(place.name, row.file);
    close(place.folder);
  }
  fs::current_path("/");
  fs::remove_all(at);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Textfile, PathWalker,
    testing::Values(
        WalkCase{"Missing", {}, "k.prom", "."},
        WalkCase{"Regular", {"f k.prom"}, "k.prom", "."},
        WalkCase{"DotsByName", {"d a/x", "d b"}, "a/x/../.././b/./k.prom", "b"},
        WalkCase{"AboveTheRoot", {}, "/../..{s}/k.prom", "."},
        WalkCase{"OwnLinks", {"d own", "f own/f", "l a b", "l b own/f"}, "a", "own", "f"},
        WalkCase{"OwnAbsoluteLink", {"d own", "f own/f", "l k.prom {s}/own/f"}, "k.prom", "own", "f"},
        WalkCase{"LinkToParent", {"d own/x", "l own/x/up .."}, "own/x/up/k.prom", "own"},
        WalkCase{"Dangling", {"l k.prom nowhere/new"}, "k.prom", "", "", "No such file or directory"},
        WalkCase{"DanglingLast", {"l k.prom new"}, "k.prom", "", "", kNotRegular},
        WalkCase{"Folder", {"d k.prom"}, "k.prom", "", "", kNotRegular},
        WalkCase{"TrailingSlash", {"f k.prom"}, "k.prom/", "", "", "Not a directory"},
        WalkCase{"Fifo", {"p k.prom"}, "k.prom", "", "", kNotRegular},
        WalkCase{"Device", {}, "/dev/null", "", "", kNotRegular},
        WalkCase{"LinkWithASecondName", {"d own", "f own/f", "l a own/f", "h b a"}, "b", "", "",
                 "'{s}/b' is a link with a second name"},
        WalkCase{"LinkLoop", {"l a b", "l b a"}, "a", "", "", "Too many levels of symbolic links"},
        WalkCase{"MissingOnTheWay", {}, "none/k.prom", "", "", "No such file or directory"}),
    testing::PrintToStringParamName());
// clang-format on

// Few descriptors are needed however deep the path: one for the folder the walk stands in.
TEST(PathWalker, HoldsOneFolderAtATime) {
  const fs::path at = scratchPath("deep");
  std::string deep = "d";
  fs::create_directory(at);
  fs::current_path(at);
  for (int i = 0; i < 1000; ++i, fs::current_path("d")) fs::create_directory("d");
  for (int i = 1; i < 1000; ++i) deep += "/d";
  fs::current_path("/");
  rlimit before;
  getrlimit(RLIMIT_NOFILE, &before);
  const rlimit few{32, before.rlim_max};
  setrlimit(RLIMIT_NOFILE, &few);
  OutputPlace place;
  std::string reason;
  EXPECT_TRUE(resolveOutput((at / deep / "k.prom").string(), &place, &reason)) << reason;
  setrlimit(RLIMIT_NOFILE, &before);
  if (place.folder >= 0) close(place.folder);
  fs::remove_all(at);
}

// A folder moved away and back while the walk climbs out of it and in again, many times: the
// walk ends in x/e, where the path leads, or says that the folder moved, or finds it gone; it
// never lands in y/e, where the moved folder's ".." leads.
TEST(PathWalker, SaysWhenAFolderMovedWhileItWasWalked) {
  const fs::path at = scratchPath("moving");
  fs::create_directories(at / "x/d"), fs::create_directories(at / "x/e");
  fs::create_directories(at / "y/e");
  std::string path = (at / "x/d").string();
  for (int i = 0; i < 50; ++i) path += "/../d";
  struct stat target;
  ASSERT_EQ(stat((at / "x/e").c_str(), &target), 0);
  std::atomic<bool> done = false;
  std::thread mover([&] {
    while (!done)
      rename((at / "x/d").c_str(), (at / "y/d").c_str()),
          rename((at / "y/d").c_str(), (at / "x/d").c_str());
  });
  int moved = 0, landed = 0;
  for (int run = 0; run < 100000 && (moved < 10 || landed < 10); ++run) {
    OutputPlace place;
    std::string reason;
    struct stat got;
    if (resolveOutput(path + "/../e/k.prom", &place, &reason)) {
      ASSERT_EQ(fstat(place.folder, &got), 0);
      close(place.folder);
      ASSERT_EQ(got.st_ino, target.st_ino) << "landed outside x/e";
      ++landed;
    } else if (reason != "No such file or directory") {
      ASSERT_EQ(reason, "'" + (at / "x/d").string() + "' moved while it was walked");
      ++moved;
    }
  }
  done = true;
  mover.join();
  EXPECT_GE(moved, 10);
  EXPECT_GE(landed, 10);
  fs::remove_all(at);
}

// The writer's file is whole, 0644 whatever the umask, a new file (the old one's other names
// keep the old text), and nothing else is left in the folder.
TEST(AtomicWriter, ReplacesWhole) {
  const fs::path at = scratchPath("writer");
  fs::create_directory(at);
  writeFile(at / "k.prom", "old");
  fs::create_hard_link(at / "k.prom", at / "second");
  const int folder = open(at.c_str(), O_RDONLY | O_DIRECTORY);
  const mode_t umasked = umask(077);
  EXPECT_EQ(writeAtomically(folder, "k.prom", temporaryPrefix(folder, "k.prom"), "new\n"), 0);
  umask(umasked);
  close(folder);
  EXPECT_EQ(readFile(at / "k.prom"), "new\n");
  EXPECT_EQ(readFile(at / "second"), "old");
  EXPECT_EQ(fs::status(at / "k.prom").permissions(), fs::perms(0644));
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(at))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"k.prom", "second"}));
  fs::remove_all(at);
}

}  // namespace
