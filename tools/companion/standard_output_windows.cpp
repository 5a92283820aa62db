// Windows: a console takes UTF-16 through WriteConsoleW, whatever its code page; a file or a
// pipe takes the bytes through the C runtime's text mode, as korvalen-snapshot's report.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standard_output.h"

bool writeStandardOutput(const std::string& text, std::string* reason) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode)) {
    std::string lines;
    for (const char c : text) lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
    // A conversion that fails is a failed write: nothing, or part of the text, would be shown.
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lines.data(),
                                           static_cast<int>(lines.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if ((length > 0 || lines.empty()) &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lines.data(),
                            static_cast<int>(lines.size()), wide.data(), length) == length) {
      DWORD written = 0;
      if (WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
          written == wide.size())
        return true;
    }
    *reason = "the console refused the text (Windows error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
    return true;
  *reason = errno != 0 ? std::strerror(errno) : "a write failed";
  return false;
}
