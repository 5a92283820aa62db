// The companions' standard output, one implementation per platform.
#ifndef KORVALEN_COMPANION_STANDARD_OUTPUT_H
#define KORVALEN_COMPANION_STANDARD_OUTPUT_H

#include <string>

// Writes `text` (UTF-8, lines ending in LF) to standard output whole and flushes it; on a
// Windows console as UTF-16, so that names show as the sensors file writes them whatever the
// console's code page, elsewhere as the bytes they are (text mode on Windows: CR LF). Returns
// true, or false with `*reason` set to why it did not reach standard output.
bool writeStandardOutput(const std::string& text, std::string* reason);

#endif  // KORVALEN_COMPANION_STANDARD_OUTPUT_H
