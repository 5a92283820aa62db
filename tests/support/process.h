// Runs the programs under test as a user or a script would, one platform file each.
#ifndef KORVALEN_TESTS_SUPPORT_PROCESS_H
#define KORVALEN_TESTS_SUPPORT_PROCESS_H

#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal number when a signal ended it
  std::string out;  // standard output, bytes as written
  std::string err;
};

// Where the child's standard output goes (the first three are files, in this order).
enum class OutputSink {
  capture,     // a file, read back into ProcessResult::out
  nullDevice,  // /dev/null or NUL
  fullDevice,  // /dev/full: every write fails for want of space (under Wine, through Z:)
  closedPipe,  // a pipe whose reader has gone before anything is written
  closed,      // no standard output at all
};

// How long a child may run before it is taken for hung: it is then stopped, and runProcess
// throws, which fails the test that ran it with the reason.
inline constexpr int kProcessTimeLimitSeconds = 60;

// Runs `argv` with standard input empty and waits for it, at most kProcessTimeLimitSeconds.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         OutputSink sink = OutputSink::capture);

// POSIX only: a program left running, with standard error on /dev/null, and standard input on
// /dev/null or on a pipe whose write end `input` the test keeps (`keepInput`).
struct BackgroundProcess {
  int pid;
  int input;
};
BackgroundProcess startInBackground(const std::vector<std::string>& argv, bool keepInput);

// POSIX only: ends the process's input, then waits up to five seconds for it to end. Returns its
// status as runProcess does, or -1 when it had to be killed.
int awaitEnd(BackgroundProcess& process);

// `argv` made to run without the power to bypass access checks: unchanged where the caller has
// none (Windows, a POSIX user other than root), otherwise run as the user nobody.
std::vector<std::string> withoutPrivilege(const std::vector<std::string>& argv);

// POSIX only: `argv` run as `user` through setpriv, with the built programs in it copied where
// that user can run them.
std::vector<std::string> asUser(const std::string& user, const std::vector<std::string>& argv);

// Gives this process, and all it starts, an empty /dev/shm of its own in a mount namespace of its
// own, so that the blocks the tests publish under the monitor's one name neither meet nor touch
// one that someone else has published: as root, or else in a user namespace that maps the caller
// to itself. Returns false, changing nothing that matters, where neither can be had, and on
// Windows, where each Wine prefix's wineserver keeps its own names anyway.
bool usePrivateBlockFolder();

// The path of program `name` built beside the running test (on Windows with ".exe").
std::string builtProgram(const std::string& name);
inline std::string sim() { return builtProgram("korvalen-sim"); }
inline std::string snapshot() { return builtProgram("korvalen-snapshot"); }
inline std::string prometheus() { return builtProgram("korvalen-prometheus"); }

// A fresh path for a scratch file of this test process.
std::string scratchPath(const std::string& leaf);

// The bytes of the file at `path` (empty when it cannot be read), and writing them anew.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// The text as the platform's text-mode standard output writes it.
std::string textModeLines(const std::string& text);

#endif  // KORVALEN_TESTS_SUPPORT_PROCESS_H
