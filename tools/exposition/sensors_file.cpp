// The sensors file, read in three passes: the file itself (a regular file, UTF-8, no NUL), its
// shape (toml_shape.h: nothing deeper than a table, a position and a key; the text of each
// number kept), then toml++'s tree, held against the exposition's table. Every refusal is told
// in our own words, at the place in the file that it is about, with any key it names quoted as
// a file name is: toml++'s own wording never reaches the operator.
#include "sensors_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "quoting.h"
#include "regular_file.h"
#include "snapshot_report.h"
#include "toml_shape.h"
#include "unicode_text.h"

namespace {

constexpr std::size_t kMaxFileBytes = 1024 * 1024;
constexpr int kDeepest = 3;  // a table, a position and a key
constexpr std::size_t kMaxNameCharacters = 64;

// A refusal: where in the file, and what.
struct Refusal {
  TextPlace at;  // line 0: the file as a whole
  std::string what;
};

TextPlace placeOf(const toml::source_position& at) { return {at.line, at.column}; }

// Where the first byte that is not UTF-8 lies in `text`, or line 0 when all of it is UTF-8.
TextPlace firstNonUtf8(std::string_view text) {
  TextPlace at{1, 1};
  for (std::size_t i = 0; i < text.size(); ++at.column) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > text.size()) return at;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next >> 6) != 0x2) return at;
      point = point << 6 | (next & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
      return at;
    if (lead == '\n') at = {at.line + 1, 0};
    i += length;
  }
  return {};
}

// Where the first NUL byte lies in `text`, the UTF-8 before it counted in characters.
TextPlace placeOfByte(std::string_view text, std::size_t offset) {
  TextPlace at{1, 1};
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n')
      at = {at.line + 1, 1};
    else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
      ++at.column;
  }
  return at;
}

// What is wrong with `name` as a terminal would show it, or nothing: empty, a control character
// (C0, DEL or C1), a character that hides or reorders the text around it, or longer than a view's
// column can sensibly hold.
std::optional<std::string> nameProblem(const std::string& name) {
  if (name.empty()) return "empty";
  std::size_t characters = 0;
  for (std::size_t i = 0; i < name.size(); ++characters) {
    if (isControlAt(name, i)) return "holds a control character";
    if (const char32_t c = nextCharacter(name, &i); hidesOrReorders(c)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      return std::string("holds ") + code + ", which hides or reorders the text around it";
    }
  }
  if (characters > kMaxNameCharacters)
    return "longer than " + std::to_string(kMaxNameCharacters) + " characters";
  return std::nullopt;
}

// The position that `key` spells, "0" to "31" written plainly, or none.
std::optional<unsigned> positionOf(std::string_view key) {
  unsigned position = 0;
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), position);
  if (error != std::errc() || end != key.data() + key.size() || position >= kMaxReadings ||
      (key.size() > 1 && key[0] == '0'))
    return std::nullopt;
  return position;
}

// The decimal `text` (TOML's: a sign, digits with '_' between them, a fraction, an exponent)
// times 10^`places`, exactly. Throws a Refusal, with what `named` makes of its reason, when it is
// not finite, when it has more decimals than `places`, or when it is far beyond any reading.
template <class Naming>
long long exactDecimal(std::string_view text, int places, TextPlace at, const Naming& named) {
  const std::string written(text);
  std::string_view rest = text;
  const bool negative = !rest.empty() && rest[0] == '-';
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) rest.remove_prefix(1);
  if (rest == "inf" || rest == "nan") throw Refusal{at, named("not a finite number")};
  std::string digits;
  long long exponent = places;
  bool fraction = false;
  std::size_t i = 0;
  for (; i < rest.size() && rest[i] != 'e' && rest[i] != 'E'; ++i) {
    if (rest[i] == '.') fraction = true;
    if (rest[i] >= '0' && rest[i] <= '9') {
      digits += rest[i];
      if (fraction) --exponent;
    }
  }
  if (i < rest.size()) {
    std::string power;
    for (const char c : rest.substr(i + 1)) {
      if (c != '_') power += c;
    }
    if (!power.empty() && power[0] == '+') power.erase(0, 1);
    long long more = 0;
    const auto [end, error] = std::from_chars(power.data(), power.data() + power.size(), more);
    if (error != std::errc() || end != power.data() + power.size() || more > 100 || more < -100)
      throw Refusal{at, named("beyond what a reading can be")};
    exponent += more;
  }
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  for (; exponent < 0; ++exponent) {
    if (!digits.empty() && digits.back() != '0') {
      throw Refusal{
          at,
          named((written + (places > 0 ? " has more than two decimals" : " is not a whole number"))
                    .c_str())};
    }
    if (!digits.empty()) digits.pop_back();
  }
  if (digits.size() + static_cast<std::size_t>(exponent) > 12)
    throw Refusal{at, named("beyond what a reading can be")};
  digits.append(static_cast<std::size_t>(exponent), '0');
  long long value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return negative ? -value : value;
}

// The limit that `node` gives for a reading of `kind`, as the block would hold it (hundredths,
// or a whole number for fans), judged exactly: a whole number from toml++'s integer, a decimal
// from its text as written (`numbers`), never through a double. Throws a Refusal, with what
// `named` makes of its reason, when it is no number, or one that the reading's text cannot hold
// exactly, or beyond what a reading can be.
template <class Naming>
std::int32_t limitValue(const toml::node& node, const ReadingKindInfo& kind,
                        const NumberTexts& numbers, const Naming& named) {
  const TextPlace at = placeOf(node.source().begin);
  const int places = kind.scaled ? 2 : 0;
  long long value = 0;
  if (const auto* whole = node.as_integer()) {
    const std::int64_t given = whole->get();
    if (given < -100000000000LL || given > 100000000000LL)
      throw Refusal{at, named("beyond what a reading can be")};
    value = given * (kind.scaled ? 100 : 1);
  } else if (node.is_floating_point()) {
    const auto text = numbers.find({at.line, at.column});
    if (text == numbers.end()) throw Refusal{at, named("not a number")};
    value = exactDecimal(text->second, places, at, named);
  } else {
    throw Refusal{at, named("not a number")};
  }
  if (value < INT32_MIN || value > INT32_MAX)
    throw Refusal{at, named("beyond what a reading can be")};
  return static_cast<std::int32_t>(value);
}

// The limit of `kind` that `key` names, or none.
const LimitExposition* limitNamed(ReadingKind kind, std::string_view key) {
  for (const LimitExposition& limit : exposition(kind).limits) {
    if (key == limit.key) return &limit;
  }
  return nullptr;
}

// What `kind`'s positions may hold, for a message: "name, ignore, max and crit".
std::string keysOf(ReadingKind kind) {
  std::string keys = "name, ignore";
  const std::span<const LimitExposition> limits = exposition(kind).limits;
  for (std::size_t i = 0; i < limits.size(); ++i)
    keys += (i + 1 == limits.size() ? " and " : ", ") + std::string(limits[i].key);
  return keys;
}

// Reads one position's table into `settings`. Throws a Refusal.
void readPosition(const toml::table& table, const ReadingKindInfo& kind, const std::string& where,
                  const NumberTexts& numbers, SensorSettings* settings) {
  settings->mentioned = true;
  for (const auto& [key, node] : table) {
    // What a refusal names; made only for one.
    const std::string_view keyName = key.str();
    const auto named = [&where, keyName](const char* what) {
      return where + "." + shownName(std::string(keyName)) + ": " + what;
    };
    if (key.str() == "name") {
      const auto* text = node.as_string();
      if (text == nullptr) throw Refusal{placeOf(node.source().begin), named("not a string")};
      settings->name = text->get();
      if (const std::optional<std::string> problem = nameProblem(settings->name))
        throw Refusal{placeOf(node.source().begin), named(problem->c_str())};
    } else if (key.str() == "ignore") {
      const auto* flag = node.as_boolean();
      if (flag == nullptr) throw Refusal{placeOf(node.source().begin), named("not true or false")};
      settings->ignore = flag->get();
    } else if (const LimitExposition* limit = limitNamed(kind.kind, key.str())) {
      settings->limits[static_cast<int>(limit->limit)] = limitValue(node, kind, numbers, named);
    } else {
      throw Refusal{
          placeOf(key.source().begin),
          named("unknown key: a ") + exposition(kind.kind).table + " takes " + keysOf(kind.kind)};
    }
  }
  // In the order of Limit, min <= max <= crit, where given.
  const LimitExposition* previous = nullptr;
  for (const LimitExposition& limit : exposition(kind.kind).limits) {
    const std::optional<std::int32_t>& value = settings->limit(limit.limit);
    if (!value) continue;
    if (const std::optional<std::int32_t> before =
            previous != nullptr ? settings->limit(previous->limit) : std::nullopt;
        before && *before > *value) {
      throw Refusal{placeOf(table.source().begin),
                    where + ": " + previous->key + " " + readingText(kind, *before).text +
                        " is above " + limit.key + " " + readingText(kind, *value).text};
    }
    previous = &limit;
  }
}

// Reads the document `document` into `file`. Throws a Refusal.
void readDocument(const toml::table& document, const NumberTexts& numbers, SensorsFile* file) {
  for (const auto& [key, node] : document) {
    const ReadingKindInfo* kind = nullptr;
    for (const ReadingKindInfo& candidate : kReadingKinds) {
      if (key.str() == exposition(candidate.kind).table) kind = &candidate;
    }
    if (kind == nullptr) {
      throw Refusal{placeOf(key.source().begin),
                    shownName(std::string(key.str())) +
                        ": unknown table: the tables are temperature, fan "
                        "and voltage"};
    }
    const auto* positions = node.as_table();
    if (positions == nullptr)
      throw Refusal{placeOf(node.source().begin),
                    shownName(std::string(key.str())) + ": not a table"};
    for (const auto& [positionKey, settings] : *positions) {
      const std::string where =
          std::string(key.str()) + "." + shownName(std::string(positionKey.str()));
      const std::optional<unsigned> position = positionOf(positionKey.str());
      if (!position)
        throw Refusal{placeOf(positionKey.source().begin),
                      where + ": not a position: they are 0 to 31"};
      const auto* table = settings.as_table();
      if (table == nullptr)
        throw Refusal{placeOf(settings.source().begin), where + ": not a table"};
      readPosition(*table, *kind, where, numbers,
                   &file->positions[static_cast<int>(kind->kind)][*position]);
    }
  }
}

// Reads `text` into `file`. Throws a Refusal.
void readText(std::string_view text, SensorsFile* file) {
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF" ||
      (text.size() > 1 && (text[0] == '\0' || text[1] == '\0'))) {
    throw Refusal{{}, "not UTF-8 but UTF-16, as Notepad's \"Unicode\" saves it: save it as UTF-8"};
  }
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
    throw Refusal{placeOfByte(text, nul), "a NUL byte, which no text holds"};
  if (const TextPlace bad = firstNonUtf8(text); bad.line != 0) throw Refusal{bad, "not UTF-8"};
  NumberTexts numbers;
  if (const std::optional<TextProblem> problem = checkShape(text, kDeepest, &numbers))
    throw Refusal{problem->at, problem->what};
  toml::table document;
  try {
    document = toml::parse(text);
  } catch (const toml::parse_error& error) {
    // toml++ tells its errors only in its own words: a redefinition is the one worth naming.
    const bool twice = error.description().find("redefine") != std::string_view::npos;
    throw Refusal{placeOf(error.source().begin),
                  twice ? "a table or key defined twice" : "not valid TOML"};
  }
  *file = SensorsFile{};
  readDocument(document, numbers, file);
}

}  // namespace

bool parseSensorsText(std::string_view text, const std::string& name, SensorsFile* file,
                      std::string* problem) {
  try {
    readText(text, file);
  } catch (const Refusal& refusal) {
    *problem = shownName(name);
    if (refusal.at.line != 0)
      *problem += ":" + std::to_string(refusal.at.line) + ":" + std::to_string(refusal.at.column);
    *problem += ": " + refusal.what;
    return false;
  }
  return true;
}

bool readSensorsFile(const std::string& path, SensorsFile* file, std::string* problem) {
  std::string text, reason;
  if (!readRegularFile(path, kMaxFileBytes, &text, &reason)) {
    *problem = shownName(path) + ": cannot be read: " + reason;
    return false;
  }
  if (text.size() > kMaxFileBytes) {
    *problem = shownName(path) + ": larger than 1 MiB, which no sensors file needs";
    return false;
  }
  return parseSensorsText(text, path, file, problem);
}

std::string describeSensors(const SensorsFile& file) {
  std::string lines;
  for (const ReadingKindInfo& kind : kReadingKinds) {
    for (unsigned position = 0; position < kMaxReadings; ++position) {
      const SensorSettings& settings = file.of(kind.kind, position);
      if (!settings.mentioned) continue;
      lines += std::string(exposition(kind.kind).table) + " " + std::to_string(position);
      if (!settings.name.empty()) lines += " \"" + escapedLabelValue(settings.name) + "\"";
      if (settings.ignore) lines += " ignored";
      for (const LimitExposition& limit : exposition(kind.kind).limits) {
        if (const std::optional<std::int32_t>& value = settings.limit(limit.limit))
          lines += std::string(" ") + limit.key + " " + readingText(kind, *value).text;
      }
      lines += "\n";
    }
  }
  return lines.empty() ? "no positions: every reading by its position alone\n" : lines;
}

std::string escapedLabelValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}
