// A first pass over a TOML text, before toml++ reads it: it follows the text's keys, strings and
// values far enough to refuse, in our words and at their place, what toml++ must never be given
// (nesting deeper than a sensors file's own shape, which toml++ would follow to the end of the
// stack; a character outside a string that toml++ cannot place; a date or time, which no key
// takes), and the common mistakes of hand editing (a string not closed, a value that is not one).
// It keeps the text of each number, so that a limit can be judged from what was written, not from a
// double.
#ifndef KORVALEN_EXPOSITION_TOML_SHAPE_H
#define KORVALEN_EXPOSITION_TOML_SHAPE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// A place in a text: line and column from 1, the column counted in characters, as toml++ counts
// them; line 0 is the text as a whole.
struct TextPlace {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

struct TextProblem {
  TextPlace at;
  std::string what;
};

// The text of each number in a TOML text, by the place it begins.
using NumberTexts = std::map<std::pair<std::uint32_t, std::uint32_t>, std::string_view>;

// Checks `text`, valid UTF-8 with or without a BOM, as above: no key or value may lie deeper
// than `deepest` tables. Returns nothing, with `*numbers` filled (views into `text`); or the
// first problem found. What this pass lets by, toml++ reads and judges.
std::optional<TextProblem> checkShape(std::string_view text, int deepest, NumberTexts* numbers);

#endif  // KORVALEN_EXPOSITION_TOML_SHAPE_H
