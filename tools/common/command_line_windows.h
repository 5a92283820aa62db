// Building a Windows command line that the C runtime splits back into the same arguments.
#ifndef KORVALEN_COMMON_COMMAND_LINE_WINDOWS_H
#define KORVALEN_COMMON_COMMAND_LINE_WINDOWS_H

#include <string>

// Appends `argument` to `line`, after a space unless `line` is empty, quoted so that
// CommandLineToArgvW and the C runtime read it back unchanged.
inline void appendArgument(std::string& line, const std::string& argument) {
  if (!line.empty()) line += ' ';
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote.
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');
  line += '"';
}

#endif  // KORVALEN_COMMON_COMMAND_LINE_WINDOWS_H
