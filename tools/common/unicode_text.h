// The characters of a name as a terminal shows them: which ones hide or reorder the text around
// them, and how many columns each takes. The text is valid UTF-8 (the sensors file's reader
// refuses any other).
#ifndef KORVALEN_COMMON_UNICODE_TEXT_H
#define KORVALEN_COMMON_UNICODE_TEXT_H

#include <cstddef>
#include <string_view>

// The character that begins at `*i` of `text`, with `*i` moved past it.
inline char32_t nextCharacter(std::string_view text, std::size_t* i) {
  const auto lead = static_cast<unsigned char>(text[*i]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t character = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length && *i + k < text.size(); ++k)
    character = character << 6 | (static_cast<unsigned char>(text[*i + k]) & 0x3F);
  *i += length;
  return character;
}

// Whether `c` changes how the text around it shows without showing itself: a bidirectional
// control (U+202E turns "45.50 C" around), an invisible format character, a line or paragraph
// separator.
inline bool hidesOrReorders(char32_t c) {
  return c == 0x061C || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         c == 0x2060 || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// The columns that `c` takes on a terminal: two for the East Asian wide and full-width
// characters (CJK, Hangul, full-width forms, emoji), none for a combining mark, else one.
inline std::size_t columnsOf(char32_t c) {
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F))
    return 0;
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                    (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                    (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                    (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

// The columns that the UTF-8 `text` takes on a terminal.
inline std::size_t columnsOf(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < text.size();) columns += columnsOf(nextCharacter(text, &i));
  return columns;
}

#endif  // KORVALEN_COMMON_UNICODE_TEXT_H
