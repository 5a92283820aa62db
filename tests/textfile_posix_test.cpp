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

// Where `output` leads: "" with `*folder` and `*name` set, or why the walk refused it.
std::string walk(const std::string& output, ino_t* folder, std::string* name) {
  OutputPlace place;
  std::string reason;
  struct stat status;
  if (!resolveOutput(output, &place, &reason)) return reason;
  fstat(place.folder, &status);
  close(place.folder);
  *folder = status.st_ino, *name = place.name;
  return "";
}

ino_t inodeOf(const fs::path& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// Each row walked with 32 descriptors allowed: the walk holds one folder at a time, however deep.
TEST_P(PathWalker, LandsWhereThePathLeads) {
  const WalkCase& row = GetParam();
  const fs::path at = scratchPath("walk");
  fs::create_directory(at);
  for (const std::string& entry : row.layout) lay(at, entry);
  fs::current_path(at);
  rlimit before, few;
  getrlimit(RLIMIT_NOFILE, &before);
  few = {32, before.rlim_max};
  setrlimit(RLIMIT_NOFILE, &few);
  ino_t folder = 0;
  std::string name;
  EXPECT_EQ(walk(within(row.output, at), &folder, &name), within(row.reason, at));
  setrlimit(RLIMIT_NOFILE, &before);
  if (row.reason.empty()) {
    EXPECT_EQ(folder, inodeOf(at / row.folder)) << "not in " << row.folder;
    EXPECT_EQ(name, row.file);
  }
  fs::current_path("/");
  fs::remove_all(at);
}

const std::string kDeep = [] {
  std::string deep = "d";
  for (int i = 1; i < 1000; ++i) deep += "/d";
  return deep;
}();

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
        WalkCase{"ThousandFoldersDeep", {"d " + kDeep}, kDeep + "/k.prom", kDeep},
        WalkCase{"MissingOnTheWay", {}, "none/k.prom", "", "", "No such file or directory"}),
    testing::PrintToStringParamName());
// clang-format on

// A folder moved away and back while the walk climbs out of it and in again, many times: the
// walk ends in x/e, where the path leads, or says that the folder moved, or finds it gone; it
// never lands in y/e, where the moved folder's ".." leads.
TEST(PathWalker, SaysWhenAFolderMovedWhileItWasWalked) {
  const fs::path at = scratchPath("moving");
  for (const char* folder : {"x/d", "x/e", "y/e"}) fs::create_directories(at / folder);
  std::string path = (at / "x/d").string(), name;
  for (int i = 0; i < 50; ++i) path += "/../d";
  std::atomic<bool> done = false;
  std::thread mover([&] {
    for (const std::string x = at / "x/d", y = at / "y/d"; !done;)
      rename(x.c_str(), y.c_str()), rename(y.c_str(), x.c_str());
  });
  int moved = 0, landed = 0;
  for (int run = 0; run < 100000 && (moved < 10 || landed < 10); ++run) {
    ino_t folder = 0;
    const std::string reason = walk(path + "/../e/k.prom", &folder, &name);
    if (reason.empty()) {
      ASSERT_EQ(folder, inodeOf(at / "x/e")) << "landed outside x/e";
    } else if (reason != "No such file or directory") {
      ASSERT_EQ(reason, "'" + (at / "x/d").string() + "' moved while it was walked");
    }
    landed += reason.empty(), moved += reason.ends_with("moved while it was walked");
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
