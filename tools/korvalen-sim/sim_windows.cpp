// Windows: a block is a named file mapping, which Windows removes with its last handle, so no
// exit path can leave one behind and there is never a stale block to replace.
#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <cstdio>
#include <string>
#include <thread>

#include "command_line_windows.h"
#include "sensor_block.h"
#include "sim_platform.h"

namespace {

// Set by each stop and taken by the wait that honours it, so that a stop that comes before we
// wait is kept for the wait. Auto-reset: each wait takes one.
HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleStop(DWORD) {
  // A closing console, a logoff or a shutdown ends the process once this returns: its handles
  // close, which withdraws the block and, through the job, ends the command.
  SetEvent(stopEvent);
  return TRUE;
}

void reportFailure(const char* what, const char* name) {
  std::fprintf(stderr, "korvalen-sim: cannot %s %s (Windows error %lu)\n", what, name,
               static_cast<unsigned long>(GetLastError()));
}

// A block shorter than the record lives in a small file: a pagefile mapping would be rounded up
// to a whole page, and mapping the record from it would then succeed.
HANDLE createBackingFile(const std::uint8_t* bytes, std::size_t size) {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "kvs", 0, path) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  DWORD written = 0;
  if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written != size) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

const PlatformHelp kPlatformHelp = {
    "Lifetime:\n"
    "  -- COMMAND [ARG...]       run COMMAND while the block is published, then\n"
    "                            withdraw it and exit with COMMAND's status; a\n"
    "                            Ctrl-C or Ctrl-Break is passed on to COMMAND as\n"
    "                            Ctrl-Break, and COMMAND ends with korvalen-sim\n"
    "                            however korvalen-sim ends\n"
    "  (no command)              hold the block until Ctrl-C, Ctrl-Break or the\n"
    "                            end of standard input\n",
    "Ctrl-C, Ctrl-Break or end of input",
    "changes nothing on Windows, where a block goes\nwith its last handle",
    "give the block a security descriptor that\ndenies everyone access"};

bool publishBlock(const char* name, const std::uint8_t* bytes, std::size_t size,
                  const PublishOptions& options, PublishedBlock* block) {
  if (size == 0) {
    std::fprintf(stderr, "korvalen-sim: Windows cannot publish an empty block\n");
    return false;
  }
  // Deny everyone every right: others cannot open the mapping, while our own handle keeps the
  // rights it was created with.
  SECURITY_ATTRIBUTES refused{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  if (options.refuseReaders &&
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "D:(D;;GA;;;WD)", SDDL_REVISION_1, &refused.lpSecurityDescriptor, nullptr)) {
    reportFailure("describe the security of", name);
    return false;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  if (size < kSensorBlockSize) file = createBackingFile(bytes, size);
  HANDLE mapping = nullptr;
  if (size >= kSensorBlockSize || file != INVALID_HANDLE_VALUE) {
    mapping = CreateFileMappingA(file, options.refuseReaders ? &refused : nullptr, PAGE_READWRITE,
                                 0, static_cast<DWORD>(size), name);
  }
  const DWORD error = GetLastError();
  LocalFree(refused.lpSecurityDescriptor);
  if (mapping != nullptr && error == ERROR_ALREADY_EXISTS) {
    // Someone else's block, perhaps the real monitor's: close our handle and touch nothing.
    CloseHandle(mapping);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    std::fprintf(stderr, "korvalen-sim: %s is already published; not touching it\n", name);
    return false;
  }
  if (mapping == nullptr) {
    SetLastError(error);
    reportFailure(size < kSensorBlockSize ? "write a backing file for" : "create", name);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return false;
  }

  *block = {reinterpret_cast<std::intptr_t>(mapping),
            reinterpret_cast<std::intptr_t>(file),
            nullptr,
            size,
            0,
            0};
  if (file == INVALID_HANDLE_VALUE) {
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
      reportFailure("map", name);
      CloseHandle(mapping);
      return false;
    }
    block->bytes = static_cast<volatile std::uint8_t*>(view);
    for (std::size_t i = 0; i < size; ++i) block->bytes[i] = bytes[i];
  }
  return true;
}

void withdrawBlock(const char* /*name*/, PublishedBlock* block) {
  if (block->bytes != nullptr) UnmapViewOfFile(const_cast<std::uint8_t*>(block->bytes));
  block->bytes = nullptr;
  CloseHandle(reinterpret_cast<HANDLE>(block->handle));
  if (reinterpret_cast<HANDLE>(block->backingFile) != INVALID_HANDLE_VALUE) {
    CloseHandle(reinterpret_cast<HANDLE>(block->backingFile));
  }
}

void installStopHandlers() {
  stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // Ctrl-C too, even if whoever started us had it ignored.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(onConsoleStop, TRUE);
}

int runCommand(const std::vector<std::string>& command) {
  std::string line;
  for (const std::string& arg : command) appendArgument(line, arg);

  // The command runs in a job that ends it, and all it starts, when the job's last handle
  // closes: when we end, however we end (a stop, SIGTERM under Wine, TerminateProcess).
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job == nullptr ||
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    reportFailure("make a job for", command[0].c_str());
    if (job != nullptr) CloseHandle(job);
    return kCannotExecuteStatus;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // A process group of its own, so that a stop can be passed to it alone; suspended until it is
  // in the job, so that nothing it starts escapes.
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                      &process)) {
    const DWORD error = GetLastError();
    CloseHandle(job);
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      std::fprintf(stderr, "korvalen-sim: cannot run %s (Windows error %lu)\n", command[0].c_str(),
                   static_cast<unsigned long>(error));
      return kCannotExecuteStatus;
    }
    // A folder, or a file without the .exe that Windows looks for, is "not found" to
    // CreateProcess, but it is there.
    if (GetFileAttributesA(command[0].c_str()) != INVALID_FILE_ATTRIBUTES) {
      std::fprintf(stderr, "korvalen-sim: cannot run %s: not a program\n", command[0].c_str());
      return kCannotExecuteStatus;
    }
    std::fprintf(stderr, "korvalen-sim: cannot run %s: not found\n", command[0].c_str());
    return kNotFoundStatus;
  }
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    std::fprintf(stderr,
                 "korvalen-sim: cannot run %s in a job that ends with korvalen-sim "
                 "(Windows error %lu)\n",
                 command[0].c_str(), static_cast<unsigned long>(GetLastError()));
    TerminateProcess(process.hProcess, kCannotExecuteStatus);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return kCannotExecuteStatus;
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);

  // Stops are passed on as Ctrl-Break to the command's group, and the command decides when to
  // end. Without a console to carry the event, the stop ends the command as Ctrl-C would.
  const HANDLE waits[] = {process.hProcess, stopEvent};
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)) {
      TerminateJobObject(job, static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    }
  }
  DWORD status = kCannotExecuteStatus;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(job);  // ends whatever the command left running
  return static_cast<int>(status);
}

void holdUntilStopped() {
  // A read cannot be waited for beside the stop, so a thread of its own watches for the end of
  // input; it is left blocked in its read when a stop comes first, and ends with the process.
  HANDLE inputEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread([inputEnded] {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got != 0) {
    }
    SetEvent(inputEnded);
  }).detach();
  const HANDLE waits[] = {stopEvent, inputEnded};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}
