// The sensors file, read with toml++. Every refusal is told in our own words, at the place in the
// file that it is about: toml++'s own wording never reaches the operator.
#include "sensors_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "quoting.h"
#include "snapshot_report.h"

namespace {

constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// A refusal: where in the file, and what.
struct Refusal {
  toml::source_position at;  // line 0: the file as a whole
  std::string what;
};

// `path` as a message names it: as it stands, or quoted when it holds what could break the line.
std::string fileName(const std::string& path) {
  for (const char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\'') return shellQuoted(path);
  }
  return path;
}

// Where the first byte that is not UTF-8 lies in `text`, or line 0 when all of it is UTF-8.
toml::source_position firstNonUtf8(std::string_view text) {
  toml::source_position at{1, 1};
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

// Whether `name` holds a control character (C0, DEL or C1).
bool hasControlCharacter(const std::string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x20 || byte == 0x7f) return true;
    if (byte == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) < 0xA0)
      return true;
  }
  return false;
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

// The limit that `node` gives for a reading of `kind`, as the block would hold it (hundredths,
// or a whole number for fans). Throws a Refusal, with what `named` makes of its reason, when it
// is no number, or one that the reading's text cannot hold exactly, or beyond what a reading
// can be.
template <class Naming>
std::int32_t limitValue(const toml::node& node, const ReadingKindInfo& kind, const Naming& named) {
  const double scale = kind.scaled ? kReadingScale : 1;
  double value = 0;
  if (const auto* whole = node.as_integer()) {
    value = static_cast<double>(whole->get()) * scale;
  } else if (const auto* decimal = node.as_floating_point()) {
    value = decimal->get() * scale;
    if (!std::isfinite(value)) throw Refusal{node.source().begin, named("not a finite number")};
    // A decimal such as 85.1 is no exact binary fraction: nearly whole is whole.
    if (std::fabs(value - std::round(value)) > 1e-6 * std::fmax(1, std::fabs(value))) {
      char text[64];
      std::snprintf(text, sizeof text, "%.15g%s", decimal->get(),
                    kind.scaled ? " has more than two decimals" : " is not a whole number");
      throw Refusal{node.source().begin, named(text)};
    }
  } else {
    throw Refusal{node.source().begin, named("not a number")};
  }
  value = std::round(value);
  if (value < INT32_MIN || value > INT32_MAX)
    throw Refusal{node.source().begin, named("beyond what a reading can be")};
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
                  SensorSettings* settings) {
  settings->mentioned = true;
  for (const auto& [key, node] : table) {
    // What a refusal names; made only for one.
    const std::string_view keyName = key.str();
    const auto named = [&where, keyName](const char* what) {
      return where + "." + std::string(keyName) + ": " + what;
    };
    if (key.str() == "name") {
      const auto* text = node.as_string();
      if (text == nullptr) throw Refusal{node.source().begin, named("not a string")};
      settings->name = text->get();
      if (settings->name.empty()) throw Refusal{node.source().begin, named("empty")};
      if (hasControlCharacter(settings->name))
        throw Refusal{node.source().begin, named("holds a control character")};
    } else if (key.str() == "ignore") {
      const auto* flag = node.as_boolean();
      if (flag == nullptr) throw Refusal{node.source().begin, named("not true or false")};
      settings->ignore = flag->get();
    } else if (const LimitExposition* limit = limitNamed(kind.kind, key.str())) {
      settings->limits[static_cast<int>(limit->limit)] = limitValue(node, kind, named);
    } else {
      throw Refusal{key.source().begin, named("unknown key: a ") + exposition(kind.kind).table +
                                            " takes " + keysOf(kind.kind)};
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
      throw Refusal{table.source().begin, where + ": " + previous->key + " " +
                                              readingText(kind, *before).text + " is above " +
                                              limit.key + " " + readingText(kind, *value).text};
    }
    previous = &limit;
  }
}

// Reads the document `document` into `file`. Throws a Refusal.
void readDocument(const toml::table& document, SensorsFile* file) {
  for (const auto& [key, node] : document) {
    const ReadingKindInfo* kind = nullptr;
    for (const ReadingKindInfo& candidate : kReadingKinds) {
      if (key.str() == exposition(candidate.kind).table) kind = &candidate;
    }
    if (kind == nullptr) {
      throw Refusal{key.source().begin, std::string(key.str()) +
                                            ": unknown table: the tables are temperature, fan "
                                            "and voltage"};
    }
    const auto* positions = node.as_table();
    if (positions == nullptr)
      throw Refusal{node.source().begin, std::string(key.str()) + ": not a table"};
    for (const auto& [positionKey, settings] : *positions) {
      const std::string where = std::string(key.str()) + "." + std::string(positionKey.str());
      const std::optional<unsigned> position = positionOf(positionKey.str());
      if (!position)
        throw Refusal{positionKey.source().begin, where + ": not a position: they are 0 to 31"};
      const auto* table = settings.as_table();
      if (table == nullptr) throw Refusal{settings.source().begin, where + ": not a table"};
      readPosition(*table, *kind, where, &file->positions[static_cast<int>(kind->kind)][*position]);
    }
  }
}

}  // namespace

bool readSensorsFile(const std::string& path, SensorsFile* file, std::string* problem) {
  const std::string name = fileName(path);
  // Read in pieces, up to one byte more than allowed, into text sized once where the file tells
  // its size: every page a run touches first costs it, so a small file costs only its own.
  std::FILE* in = std::fopen(path.c_str(), "rb");
  std::string text;
  if (in != nullptr) {
    std::setvbuf(in, nullptr, _IONBF, 0);  // the pieces are the buffer
    if (std::fseek(in, 0, SEEK_END) == 0) {
      if (const long size = std::ftell(in); size > 0)
        text.reserve(std::min(static_cast<std::size_t>(size), kMaxFileBytes + 1));
      std::rewind(in);
    }
  }
  char piece[4096];
  // A short piece is the end of the file, or an error.
  for (std::size_t got = sizeof piece;
       in != nullptr && got == sizeof piece && text.size() <= kMaxFileBytes;) {
    got = std::fread(piece, 1, sizeof piece, in);
    text.append(piece, got);
  }
  const int error = errno;
  if (in == nullptr || std::ferror(in) != 0) {
    if (in != nullptr) std::fclose(in);
    *problem = name + ": cannot be read: " + std::strerror(error);
    return false;
  }
  std::fclose(in);
  if (text.size() > kMaxFileBytes) {
    *problem = name + ": larger than 1 MiB, which no sensors file needs";
    return false;
  }
  if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0 ||
      text.find('\0') != std::string::npos) {
    *problem = name + ": not UTF-8 but UTF-16, as Notepad's \"Unicode\" saves it: save it as UTF-8";
    return false;
  }
  try {
    toml::table document;
    try {
      document = toml::parse(text);
    } catch (const toml::parse_error& error) {
      // toml++ refuses bytes that are not UTF-8 too: say which it was.
      if (const toml::source_position bad = firstNonUtf8(text); bad.line != 0)
        throw Refusal{bad, "not UTF-8"};
      throw Refusal{error.source().begin, "not valid TOML"};
    }
    for (SensorSettings(&kind)[kMaxReadings] : file->positions) {
      for (SensorSettings& settings : kind) settings = {};
    }
    readDocument(document, file);
  } catch (const Refusal& refusal) {
    *problem = name;
    if (refusal.at.line != 0)
      *problem += ":" + std::to_string(refusal.at.line) + ":" + std::to_string(refusal.at.column);
    *problem += ": " + refusal.what;
    return false;
  }
  return true;
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
  return lines;
}

std::string escapedLabelValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}
