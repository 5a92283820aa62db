#include <windows.h>

#include "mqtt_platform.h"

std::string hostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  return GetComputerNameA(name, &length) ? std::string(name, length) : "";
}

unsigned long processId() { return GetCurrentProcessId(); }

std::string passwordFileProblem(const std::string&) { return ""; }

namespace {

// What the timer's callback says and ends with: set before the timer, read in the callback alone.
std::string deadlineLine;
UINT deadlineStatus = 0;
HANDLE deadlineTimer = nullptr;

void CALLBACK onDeadline(void*, BOOLEAN) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), deadlineLine.data(),
            static_cast<DWORD>(deadlineLine.size()), &written, nullptr);
  ExitProcess(deadlineStatus);
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
