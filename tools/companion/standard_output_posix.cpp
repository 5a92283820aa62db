#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standard_output.h"

bool writeStandardOutput(const std::string& text, std::string* reason) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
    return true;
  *reason = errno != 0 ? std::strerror(errno) : "a write failed";
  return false;
}
