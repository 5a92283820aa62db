// Names quoted for one-line messages, as coreutils quotes them: whatever bytes a file name holds,
// the message stays one line and the name can be pasted back into a shell.
#ifndef KORVALEN_COMMON_QUOTING_H
#define KORVALEN_COMMON_QUOTING_H

#include <cstdio>
#include <string>

// `name` in single quotes ('k.prom'). A quote inside is written '\'' and a control byte as
// $'\n' or $'\ooo' outside the quotes, so that no line feed or escape sequence reaches the
// terminal or the log: 'a'$'\n''b' for "a", a line feed, "b".
inline std::string shellQuoted(const std::string& name) {
  std::string text = "'";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\'') {
      text += "'\\''";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      if (c == '\n' || c == '\t' || c == '\r')
        std::snprintf(escape, sizeof escape, "\\%c", c == '\n' ? 'n' : c == '\t' ? 't' : 'r');
      else
        std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned>(byte));
      text += "'$'" + std::string(escape) + "''";
    } else {
      text += c;
    }
  }
  return text + "'";
}

#endif  // KORVALEN_COMMON_QUOTING_H
