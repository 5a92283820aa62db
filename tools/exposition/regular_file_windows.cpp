// Windows: a folder is told by its attributes (it opens only with backup semantics), and a
// device or pipe by the type of the handle (NUL, CON, \\.\pipe\...), before a byte is read.
#include <windows.h>

#include "regular_file.h"
#include "windows_error.h"

bool readRegularFile(const std::string& path, std::size_t most, std::string* text,
                     std::string* reason) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *reason = "not a regular file";
    return false;
  }
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *reason = windowsErrorText(GetLastError());
    return false;
  }
  bool read = GetFileType(file) == FILE_TYPE_DISK;
  if (!read) *reason = "not a regular file";
  char piece[4096];
  while (read && text->size() <= most) {
    DWORD got = 0;
    if (!ReadFile(file, piece, sizeof piece, &got, nullptr)) {
      *reason = windowsErrorText(GetLastError());
      read = false;
    }
    if (got == 0) break;
    text->append(piece, got);
  }
  CloseHandle(file);
  return read;
}
