// Windows: a system error in the system's own words, for one-line messages.
#ifndef KORVALEN_COMMON_WINDOWS_ERROR_H
#define KORVALEN_COMMON_WINDOWS_ERROR_H

#include <windows.h>

#include <string>

// FormatMessage's text for `error`, without the full stop and line break it ends in, then
// "(Windows error N)".
inline std::string windowsErrorText(DWORD error) {
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

#endif  // KORVALEN_COMMON_WINDOWS_ERROR_H
