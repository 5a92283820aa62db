#include <windows.h>

#include "mqtt_platform.h"
#include "regular_file.h"

std::string hostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  return GetComputerNameA(name, &length) ? std::string(name, length) : "";
}

unsigned long processId() { return GetCurrentProcessId(); }

std::string readPasswordFile(const std::string& path, std::size_t most, std::string* text) {
  std::string reason;
  return readRegularFile(path, most, text, &reason) ? "" : "cannot be read: " + reason;
}

// A job of the process's own, whose limit is the process's memory; where the process cannot join
// one (a system before Windows 8 that runs it in a job already), it goes without.
void limitMemory(std::size_t bytes) {
  const HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit = {};
  limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  limit.ProcessMemoryLimit = bytes;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit))
    AssignProcessToJobObject(job, GetCurrentProcess());
}

namespace {

// What the timer's callback says and ends with: set before the timer, read in the callback alone.
std::string deadlineLine;
UINT deadlineStatus = 0;
HANDLE deadlineTimer = nullptr;

// Ends the process at once: ExitProcess from a pool thread would wait for the loader lock, which
// the main thread may hold inside name resolution, and never end.
void CALLBACK onDeadline(void*, BOOLEAN) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), deadlineLine.data(),
            static_cast<DWORD>(deadlineLine.size()), &written, nullptr);
  TerminateProcess(GetCurrentProcess(), deadlineStatus);
}

}  // namespace

void setDeadline(int seconds, const std::string& line, int status) {
  if (deadlineTimer != nullptr) {
    // Waits for a callback already running, which ends the process anyway.
    DeleteTimerQueueTimer(nullptr, deadlineTimer, INVALID_HANDLE_VALUE);
    deadlineTimer = nullptr;
  }
  if (seconds == 0) return;
  deadlineLine = line;
  deadlineStatus = static_cast<UINT>(status);
  CreateTimerQueueTimer(&deadlineTimer, nullptr, onDeadline, nullptr,
                        static_cast<DWORD>(seconds) * 1000, 0, WT_EXECUTEONLYONCE);
}
