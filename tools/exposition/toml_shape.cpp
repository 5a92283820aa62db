// The first pass: a scanner of TOML's lines, keys, strings and values. It recurses only into
// inline tables and arrays, and refuses them before they pass the deepest depth, so that no
// input, however nested, takes more than a few frames.
#include "toml_shape.h"

#include <cctype>

namespace {

constexpr std::string_view kTooDeep = "nests deeper than a table, a position and a key";

class Scanner {
 public:
  Scanner(std::string_view text, int deepest, NumberTexts* numbers)
      : text_(text), deepest_(deepest), numbers_(numbers) {}

  // Scans the whole text. Throws a TextProblem.
  void lines() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;  // a BOM takes no column
    int tableDepth = 0;
    while (true) {
      blanks();
      if (atEnd()) return;
      if (peek() == '#') comment();
      if (lineBreak()) continue;
      if (atEnd()) return;
      if (peek() == '[') {
        tableDepth = header();
      } else {
        keyValue(tableDepth);
      }
      endOfLine();
    }
  }

 private:
  bool atEnd() const { return i_ >= text_.size(); }
  char peek(std::size_t ahead = 0) const {
    return i_ + ahead < text_.size() ? text_[i_ + ahead] : '\0';
  }
  TextPlace here() const { return {line_, column_}; }
  [[noreturn]] static void fail(TextPlace at, std::string_view what) {
    throw TextProblem{at, std::string(what)};
  }
  // Passes one character (the text is UTF-8).
  void advance() {
    const auto lead = static_cast<unsigned char>(text_[i_]);
    if (lead == '\n') {
      ++line_;
      column_ = 1;
      ++i_;
      return;
    }
    i_ += lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    ++column_;
  }
  void blanks() {
    while (peek() == ' ' || peek() == '\t') advance();
  }
  void comment() {
    while (!atEnd() && peek() != '\n') advance();
  }
  // Passes a line break, if one is next.
  bool lineBreak() {
    if (peek() == '\r' && peek(1) == '\n') advance();
    if (peek() != '\n') return false;
    advance();
    return true;
  }
  // Passes blanks, comments and line breaks, as an array may hold between its values.
  void blankLines() {
    for (blanks(); peek() == '#' || lineBreak(); blanks()) {
      if (peek() == '#') comment();
    }
  }
  void endOfLine() {
    blanks();
    if (peek() == '#') comment();
    if (!atEnd() && peek() != '\n' && !(peek() == '\r' && peek(1) == '\n'))
      fail(here(), "more follows the value on its line");
  }
  // A table's header, "[a.b]" or "[[a.b]]". Returns the depth of the keys under it.
  int header() {
    const TextPlace start = here();
    advance();
    const bool array = peek() == '[';
    if (array) advance();
    blanks();
    const int depth = keyPath(array ? 1 : 0) + (array ? 1 : 0);
    blanks();
    if (peek() != ']' || (array && peek(1) != ']')) fail(start, "a table's name not closed by ]");
    advance();
    if (array) advance();
    if (depth >= deepest_) fail(start, kTooDeep);
    return depth;
  }
  // A dotted key, whose first part lies `depth` tables deep. Returns how many parts it has.
  int keyPath(int depth) {
    int parts = 0;
    while (true) {
      blanks();
      if (depth + parts >= deepest_) fail(here(), kTooDeep);
      key();
      ++parts;
      blanks();
      if (peek() != '.') return parts;
      advance();
    }
  }
  void key() {
    if (peek() == '"' || peek() == '\'') {
      string();
      return;
    }
    const std::size_t from = i_;
    while (isBare(peek())) advance();
    if (i_ == from) fail(here(), "not a key");
  }
  static bool isBare(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  }
  // A string of any of TOML's four kinds.
  void string() {
    const TextPlace start = here();
    const char quote = peek();
    const bool multiline = peek(1) == quote && peek(2) == quote;
    for (int i = multiline ? 3 : 1; i > 0; --i) advance();
    while (true) {
      if (atEnd() || (!multiline && peek() == '\n')) fail(start, "a string not closed");
      if (quote == '"' && peek() == '\\') {
        escape(multiline);
        continue;
      }
      if (peek() != quote || (multiline && (peek(1) != quote || peek(2) != quote))) {
        advance();
        continue;
      }
      for (int i = multiline ? 3 : 1; i > 0; --i) advance();
      // A multi-line string may end in one or two quotes of its own before its three.
      for (int extra = 0; multiline && extra < 2 && peek() == quote; ++extra) advance();
      return;
    }
  }
  // An escape in a basic string, TOML's: toml++ cannot tell some wrong ones without undefined
  // behaviour (a backslash before a character beyond ASCII).
  void escape(bool multiline) {
    const TextPlace at = here();
    advance();
    const char kind = peek();
    if (std::string_view("btnfr\"\\").find(kind) != std::string_view::npos && kind != '\0') {
      advance();
      return;
    }
    if (kind == 'u' || kind == 'U') {
      advance();
      for (int digits = kind == 'u' ? 4 : 8; digits > 0; --digits, advance()) {
        if (!std::isxdigit(static_cast<unsigned char>(peek())))
          fail(at, "an escape that is not one");
      }
      return;
    }
    // A backslash that ends a line of a multi-line string, blanks allowed before the break.
    // toml++ then passes the white space that follows, asking of each character whether it is
    // white space; for many characters beyond ASCII (U+00A1 to U+0499 among them) its table
    // reaches a point it takes for unreachable, so the first that follows must be ASCII.
    if (multiline) {
      blanks();
      if (lineBreak()) {
        for (blanks(); lineBreak(); blanks()) {
        }
        if (static_cast<unsigned char>(peek()) >= 0x80)
          fail(here(), "a character beyond ASCII right after a line-ending backslash");
        return;
      }
    }
    fail(at, "an escape that is not one");
  }
  // A value whose key lies `depth` tables deep.
  void value(int depth) {
    const TextPlace start = here();
    if (peek() == '"' || peek() == '\'') return string();
    if (peek() == '{') return inlineTable(depth);
    if (peek() == '[') return array(depth);
    const std::size_t from = i_;
    while (!atEnd() && std::string_view(" \t\r\n,]}#").find(peek()) == std::string_view::npos)
      advance();
    const std::string_view token = text_.substr(from, i_ - from);
    if (token == "true" || token == "false") return;
    // A number, a date or a time is written in ASCII alone; toml++ cannot place anything else.
    for (const char c : token) {
      if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20)
        fail(start, "not a value");
    }
    const char first = token.empty() ? '\0' : token[0];
    const std::string_view unsigned_ = first == '+' || first == '-' ? token.substr(1) : token;
    // A date or a time: no key takes one, and toml++ reaches an internal assumption on some
    // that are not (2000-01-01T:). A number holds ':' never, and '-' only first or after 'e'.
    for (std::size_t k = 1; k < unsigned_.size(); ++k) {
      if (unsigned_[k] == ':' ||
          (unsigned_[k] == '-' && unsigned_[k - 1] != 'e' && unsigned_[k - 1] != 'E'))
        fail(start, "a date or time, which no key takes");
    }
    if ((first >= '0' && first <= '9') || first == '+' || first == '-' || unsigned_ == "inf" ||
        unsigned_ == "nan") {
      (*numbers_)[{start.line, start.column}] = token;
      return;
    }
    fail(start, "not a value");
  }
  // A key, '=' and its value, the key's first part lying `depth` tables deep.
  void keyValue(int depth) {
    const TextPlace key = here();
    const int inner = depth + keyPath(depth);
    blanks();
    if (peek() != '=') fail(key, "no '=' after the key");
    advance();
    blanks();
    value(inner);
  }
  void inlineTable(int depth) {
    const TextPlace start = here();
    advance();
    blanks();
    if (peek() == '}') return advance();
    while (true) {
      keyValue(depth);
      blanks();
      if (peek() == '}') return advance();
      if (peek() != ',') fail(start, "an inline table not closed by }");
      advance();
      blanks();
    }
  }
  void array(int depth) {
    const TextPlace start = here();
    if (depth >= deepest_) fail(start, kTooDeep);
    advance();
    while (true) {
      blankLines();
      if (peek() == ']') return advance();
      value(depth + 1);
      blankLines();
      if (peek() == ']') return advance();
      if (peek() != ',') fail(start, "an array not closed by ]");
      advance();
    }
  }

  std::string_view text_;
  int deepest_;
  NumberTexts* numbers_;
  std::size_t i_ = 0;
  std::uint32_t line_ = 1, column_ = 1;
};

}  // namespace

std::optional<TextProblem> checkShape(std::string_view text, int deepest, NumberTexts* numbers) {
  try {
    Scanner(text, deepest, numbers).lines();
  } catch (const TextProblem& problem) {
    return problem;
  }
  return std::nullopt;
}
