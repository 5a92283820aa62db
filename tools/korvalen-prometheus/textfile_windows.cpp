// Windows: MoveFileExA replaces the file, but not while another process holds the old one open
// without FILE_SHARE_DELETE, as a collector written in Go opens it to read it. The new file is
// named `.NAME.tmp-PID-N` and held open, shared for deletion only, from its creation until it
// has been moved over OUTPUT; so a temporary that can be opened alone was left by a killed run,
// and the next run deletes it.
#include <windows.h>

#include <string>

#include "textfile.h"
#include "windows_error.h"

namespace {

// How long a collector that holds the old file open is waited for, in steps of kRetryMs.
constexpr int kMoveAttempts = 50;
constexpr DWORD kRetryMs = 20;
constexpr DWORD kNotRegular = ~DWORD{0};  // not a system error: OUTPUT is not a regular file

std::string messageOf(DWORD error) {
  return error == kNotRegular ? "not a regular file" : windowsErrorText(error);
}

// The folder that holds `path`, with its separator ("" for the current folder).
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) return path.substr(0, slash + 1);
  return path.size() > 1 && path[1] == ':' ? path.substr(0, 2) : "";
}

// The file that replacing `path` writes: `path` itself when it is missing or a plain file, the
// file a link (a reparse point) leads to when that is a plain file. Returns 0 with `*file` set,
// kNotRegular for a folder, a device (NUL, CON), a dangling link or a link to any of these, or
// the error that stopped the look.
DWORD fileToReplace(const std::string& path, std::string* file) {
  // A device's name (NUL, CON, COM1) stands for \\.\NAME wherever it is written.
  char full[MAX_PATH];
  const DWORD fullLength = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  if (fullLength > 4 && fullLength < MAX_PATH && std::string(full, 4) == "\\\\.\\")
    return kNotRegular;
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
    // A link whose file is missing still has attributes of its own.
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return kNotRegular;
    *file = path;
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION information;
  DWORD result = 0;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    result = kNotRegular;
  } else if ((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    char final[MAX_PATH];
    const DWORD length = GetFinalPathNameByHandleA(handle, final, MAX_PATH, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= MAX_PATH)
      result = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    else
      *file = final;
  } else {
    *file = path;
  }
  CloseHandle(handle);
  return result;
}

// Deletes the temporaries `prefix`* in `folder` that no live run holds open.
void removeAbandoned(const std::string& folder, const std::string& prefix) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder + prefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        name.size() <= prefix.size() ||
        name.find_first_not_of("0123456789-", prefix.size()) != std::string::npos) {
      continue;
    }
    // Opened alone, or not at all while its writer holds it.
    const HANDLE alone =
        CreateFileA((folder + name).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Writes `text` to a new file beside `file`, held open, and moves it over `file`. Returns 0, or
// the error.
DWORD writeBeside(const std::string& file, const std::string& text) {
  const std::string folder = folderOf(file);
  const std::string prefix = "." + file.substr(folder.size()) + ".tmp-";
  removeAbandoned(folder, prefix);

  std::string temporary;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (unsigned attempt = 0; handle == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    temporary =
        folder + prefix + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    handle = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error != 0 && error != ERROR_FILE_EXISTS) return error;
  }
  if (handle == INVALID_HANDLE_VALUE) return error;
  DWORD written = 0;
  if (!WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size() || !FlushFileBuffers(handle)) {
    error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
  }
  for (int attempt = 1; error == 0; ++attempt) {
    if (MoveFileExA(temporary.c_str(), file.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      break;
    }
    const DWORD moveError = GetLastError();
    const bool held = moveError == ERROR_ACCESS_DENIED || moveError == ERROR_SHARING_VIOLATION;
    if (!held || attempt == kMoveAttempts) error = moveError;
    if (error == 0) Sleep(kRetryMs);
  }
  if (error != 0) DeleteFileA(temporary.c_str());
  CloseHandle(handle);
  return error;
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& text, std::string* reason) {
  // A Ctrl-C meanwhile is ignored, not kept for later: the file is in place or gone first.
  SetConsoleCtrlHandler(nullptr, TRUE);
  std::string file;
  DWORD error = fileToReplace(path, &file);
  if (error == 0) error = writeBeside(file, text);
  SetConsoleCtrlHandler(nullptr, FALSE);
  if (error != 0) *reason = messageOf(error);
  return error == 0;
}
