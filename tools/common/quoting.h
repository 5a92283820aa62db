// Names quoted for one-line messages, as coreutils quotes them: whatever bytes a file name or a
// key holds, the message stays one line, no control character reaches the terminal or the log,
// and the name can be pasted back into a shell.
#ifndef KORVALEN_COMMON_QUOTING_H
#define KORVALEN_COMMON_QUOTING_H

#include <cstdio>
#include <string>

// Whether the byte at `i` of `name` begins a control character: C0, DEL, or C1 as UTF-8 writes
// it (0xC2 and 0x80 to 0x9F), which some terminals take as the start of a sequence.
inline bool isControlAt(const std::string& name, std::size_t i) {
  const auto byte = static_cast<unsigned char>(name[i]);
  return byte < 0x20 || byte == 0x7f ||
         (byte == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
          static_cast<unsigned char>(name[i + 1]) <= 0x9F);
}

// `name` in single quotes ('k.prom'). A quote inside is written '\'' and a control character
// as $'\n' or $'\ooo' (each of its bytes) outside the quotes: 'a'$'\n''b' for "a", a line feed,
// "b".
inline std::string shellQuoted(const std::string& name) {
  std::string text = "'";
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '\'') {
      text += "'\\''";
    } else if (isControlAt(name, i)) {
      const std::size_t bytes = static_cast<unsigned char>(c) == 0xC2 ? 2 : 1;
      text += "'$'";
      for (std::size_t k = 0; k < bytes; ++k, ++i) {
        const char b = name[i];
        char escape[8];
        if (b == '\n' || b == '\t' || b == '\r')
          std::snprintf(escape, sizeof escape, "\\%c", b == '\n' ? 'n' : b == '\t' ? 't' : 'r');
        else
          std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned char>(b));
        text += escape;
      }
      --i;
      text += "''";
    } else {
      text += c;
    }
  }
  return text + "'";
}

// `name` as a message shows it: as it stands, or shellQuoted when it holds a quote or a control
// character, or nothing at all.
inline std::string shownName(const std::string& name) {
  if (name.empty()) return "''";
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\'' || isControlAt(name, i)) return shellQuoted(name);
  }
  return name;
}

#endif  // KORVALEN_COMMON_QUOTING_H
