// Windows: MoveFileExA replaces the file, but not while another process holds the old one open
// without FILE_SHARE_DELETE, as a collector written in Go opens it to read it.
#include <windows.h>

#include <string>

#include "textfile.h"

namespace {

// How long a collector that holds the old file open is waited for, in steps of kRetryMs.
constexpr int kMoveAttempts = 50;
constexpr DWORD kRetryMs = 20;

std::string messageOf(DWORD error) {
  char text[256] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  return std::string(text, length) + (length > 0 ? " " : "") + "(Windows error " +
         std::to_string(error) + ")";
}

// The folder that holds `path`, for the temporary file.
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos)
    return path.size() > 1 && path[1] == ':' ? path.substr(0, 2) : ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& text, std::string* reason) {
  // Ctrl-C waits until the file is in place or gone.
  SetConsoleCtrlHandler(nullptr, TRUE);
  char temporary[MAX_PATH];
  DWORD error = 0;
  // Made here, empty, with a name that ends in .tmp.
  if (GetTempFileNameA(folderOf(path).c_str(), "kvp", 0, temporary) == 0) error = GetLastError();
  const bool made = error == 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (made) {
    file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) error = GetLastError();
  }
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file)) {
      error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
    CloseHandle(file);
  }
  for (int attempt = 1; error == 0; ++attempt) {
    if (MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      break;
    }
    const DWORD moveError = GetLastError();
    const bool held = moveError == ERROR_ACCESS_DENIED || moveError == ERROR_SHARING_VIOLATION;
    if (!held || attempt == kMoveAttempts) error = moveError;
    if (error == 0) Sleep(kRetryMs);
  }
  if (error != 0 && made) DeleteFileA(temporary);
  SetConsoleCtrlHandler(nullptr, FALSE);
  if (error != 0) *reason = messageOf(error);
  return error == 0;
}
