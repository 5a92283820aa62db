// Windows: a block is a named file mapping, which Windows removes with its last handle, so no
// exit path can leave one behind and there is never a stale block to replace.
#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <cstdio>
#include <string>

#include "common/command_line_windows.h"
#include "sensor/sensor_block.h"
#include "sim_platform.h"

namespace {

volatile LONG holding = 0;

BOOL WINAPI onConsoleStop(DWORD) {
  // While a command runs it receives the same event and ends; we end after it. While holding,
  // ending the process closes the mapping's handles, which withdraws the block.
  if (holding != 0) ExitProcess(0);
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

void installStopHandlers() { SetConsoleCtrlHandler(onConsoleStop, TRUE); }

int runCommand(const std::vector<std::string>& command) {
  std::string line;
  for (const std::string& arg : command) appendArgument(line, arg);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    const DWORD error = GetLastError();
    std::fprintf(stderr, "korvalen-sim: cannot run %s (Windows error %lu)\n", command[0].c_str(),
                 static_cast<unsigned long>(error));
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kNotFoundStatus
                                                                          : kCannotExecuteStatus;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = kCannotExecuteStatus;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

void holdUntilStopped() {
  InterlockedExchange(&holding, 1);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got != 0) {
  }
  InterlockedExchange(&holding, 0);
}
