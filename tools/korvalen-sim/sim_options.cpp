// korvalen-sim's options, declared to CLI11 with their types and validators, then applied to the
// block. Every number passes one strict decimal validator first: CLI11 alone would convert with
// strtoll in base 0, which takes white space, '+', "0x" and octal.
#include "sim_options.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "command_line.h"

namespace {

constexpr const char* kListsHelp =
    "Lists: --temperatures, --fans and --voltages take comma-separated values, none\n"
    "of them empty, at most 32 of a kind; given again, each adds its values to those\n"
    "before. Every other option is given once.\n\n";
// What the help says of each exit status, after COMMAND's own, which the sim passes on.
std::string statusHelp() {
  return "\n" + exitStatusHelp({{kStatusReported, "when held"},
                                {kUsageStatus, "bad usage"},
                                {kNoInputStatus, "raw file unreadable or over 1 MiB"},
                                {kCantCreateStatus, "block already published or not creatable"},
                                {kHelpUnwritten, "help or version not written"},
                                {kCannotExecuteStatus, "COMMAND cannot be run"},
                                {kNotFoundStatus, "COMMAND not found"}},
                               "COMMAND's, or ");
}

BlockDescription sampleBlock() {
  return {.version = 3,
          .flags = 1,
          .temperatures = {4, {4550, 3825, 5100, 2975}},
          .fans = {3, {1240, 980, 0}},
          .voltages = {4, {120, 331, 502, 1210}}};
}

// The number that `text` spells in base 10, an optional '-' (for signed types) and digits and
// nothing else, as std::from_chars reads it; none when it spells no such number of the type.
template <class Number>
std::optional<Number> decimalNumber(std::string_view text) {
  Number value{};
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// A whole number from `least` to `most` ("-007" is -7), or none.
std::optional<long long> wholeNumber(std::string_view text, long long least, long long most) {
  const std::optional<long long> value = decimalNumber<long long>(text);
  if (!value || *value < least || *value > most) return std::nullopt;
  return value;
}

// A decimal with at most two places ("-12.5") in exact hundredths that fit 32 bits, or none.
std::optional<std::int32_t> hundredths(std::string_view text) {
  const std::size_t point = std::min(text.find('.'), text.size());
  const std::string_view places = point < text.size() ? text.substr(point + 1) : "";
  if ((point < text.size() && places.empty()) || places.size() > 2) return std::nullopt;
  // Far enough to hold every 32-bit entry, near enough that scaling cannot overflow.
  const std::optional<long long> whole = wholeNumber(text.substr(0, point), -100000000, 100000000);
  const std::optional<unsigned> fraction = places.empty() ? 0 : decimalNumber<unsigned>(places);
  if (!whole || !fraction) return std::nullopt;
  const long long magnitude = *fraction * (places.size() == 1 ? 10 : 1);
  const long long value = *whole * 100 + (text[0] == '-' ? -magnitude : magnitude);
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// A usage error: thrown while applying, printed as one line that begins with what it is about.
struct UsageError {
  std::string message;
};

// The strict decimal validator: `text` must be a whole number from `least` to `most`, in base 10
// alone; or, for a list of readings (`scaled` or not), comma-separated values of which none is
// empty, decimals with at most two places or whole numbers as the kind takes.
CLI::Validator wholeNumberFrom(long long least, long long most) {
  // The text is given back as its plain decimal, so that CLI11's conversion, which reads a
  // leading 0 as octal, reads the number that was meant.
  return {[least, most](std::string& text) -> std::string {
            const std::optional<long long> value = wholeNumber(text, least, most);
            if (!value) {
              return "'" + text + "' is not a whole number from " + std::to_string(least) + " to " +
                     std::to_string(most);
            }
            text = std::to_string(*value);
            return "";
          },
          "", "whole number"};
}
std::optional<std::int32_t> entryOf(std::string_view item, bool scaled) {
  return scaled ? hundredths(item) : decimalNumber<std::int32_t>(item);
}
CLI::Validator readingList(bool scaled) {
  return {[scaled](std::string& list) -> std::string {
            for (std::size_t from = 0;; ++from) {
              const std::size_t comma = std::min(list.find(',', from), list.size());
              const std::string_view item = std::string_view(list).substr(from, comma - from);
              if (item.empty()) return "'" + list + "' has an empty value";
              if (!entryOf(item, scaled)) {
                return "'" + std::string(item) +
                       (scaled ? "' is not a decimal with at most two places from "
                                 "-21474836.48 to 21474836.47"
                               : "' is not a whole number from -2147483648 to 2147483647");
              }
              if ((from = comma) == list.size()) return "";
            }
          },
          "", "readings"};
}

// One kind of reading on the command line: its lists of values and the count to publish, as
// given.
struct KindOptions {
  ReadingKind kind;
  const char* valuesName;
  const char* countName;
  const char* valuesHelp;
  std::vector<std::string> lists{};
  std::uint16_t count = 0;
  CLI::Option* valuesOption = nullptr;
  CLI::Option* countOption = nullptr;
};

// The entries of every list of `kind`, in order, which the validator has found good: hundredths
// when scaled, whole 32-bit numbers otherwise. CLI11's own splitting would drop empty items, so
// the lists are split here.
std::vector<std::int32_t> entriesOf(const KindOptions& kind) {
  std::vector<std::int32_t> entries;
  for (const std::string& list : kind.lists) {
    for (std::size_t from = 0;; ++from) {
      const std::size_t comma = std::min(list.find(',', from), list.size());
      entries.push_back(*entryOf(std::string_view(list).substr(from, comma - from),
                                 readingKind(kind.kind).scaled));
      if ((from = comma) == list.size()) break;
    }
  }
  if (entries.size() > kMaxReadings) {
    throw UsageError{std::string(kind.valuesName) + ": at most 32 values in all, not " +
                     std::to_string(entries.size())};
  }
  return entries;
}

// What the command line gave, as text, and the options that took it. CLI11 keeps references
// into it, so it stays where it was declared.
struct GivenOptions {
  bool sample = false;
  std::uint16_t version = 0, flags = 0;
  CLI::Option* versionOption = nullptr;
  CLI::Option* flagsOption = nullptr;
  CLI::Option* rawOption = nullptr;
  std::vector<CLI::Option*> described;  // those that describe a block, which --raw replaces
  KindOptions kinds[3] = {
      {ReadingKind::temperatures, "--temperatures", "--temperature-count",
       "degrees, up to two decimals each"},
      {ReadingKind::fans, "--fans", "--fan-count", "fan readings, whole numbers"},
      {ReadingKind::voltages, "--voltages", "--voltage-count", "volts, up to two decimals each"}};
};

// Declares every option to `app`: those that describe the block keep their text in `given`;
// --raw and the publishing flags go straight into `options`.
void declareOptions(CLI::App& app, GivenOptions& given, SimOptions& options) {
  describeProgram(app, "korvalen-sim [OPTIONS] [-- COMMAND [ARG...]]");
  app.footer(std::string(kListsHelp) + kPlatformHelp.lifetime + statusHelp());
  const char* const block = "Block (options amend the default: version 1, flags 0, no readings)";
  given.described.push_back(
      app.add_flag("--sample", given.sample, "start from the sample readings, wherever it stands"));
  given.versionOption =
      app.add_option("--block-version", given.version, "the block's version field, 0 to 65535")
          ->transform(wholeNumberFrom(0, 65535))
          ->option_text("N");
  given.flagsOption = app.add_option("--flags", given.flags, "the block's flag word, 0 to 65535")
                          ->transform(wholeNumberFrom(0, 65535))
                          ->option_text("N");
  given.described.insert(given.described.end(), {given.versionOption, given.flagsOption});
  for (KindOptions& kind : given.kinds) {
    kind.valuesOption = app.add_option(kind.valuesName, kind.lists, kind.valuesHelp)
                            ->check(readingList(readingKind(kind.kind).scaled))
                            ->option_text(readingKind(kind.kind).scaled ? "DECIMALS" : "N,...")
                            ->expected(1, static_cast<int>(kMaxReadings));
    kind.countOption =
        app.add_option(kind.countName, kind.count,
                       "the count to publish, 0 to 65535 (default:\nthe number of values)")
            ->transform(wholeNumberFrom(0, 65535))
            ->option_text("N");
    given.described.push_back(kind.valuesOption);
    given.described.push_back(kind.countOption);
  }
  for (CLI::Option* option : given.described) option->group(block);
  given.rawOption =
      app.add_option("--raw", options.rawPath,
                     "publish the bytes of FILE as they stand, any\nlength up to 1 MiB, instead "
                     "of a described\nblock")
          ->option_text("FILE")
          ->group(block);
  const char* const publishing = "Publishing";
  app.add_flag("--churn", options.churn,
               "keep rewriting counts and readings as fast as\npossible; each reading's low "
               "byte holds its slot\nnumber (0 to 31)")
      ->group(publishing);
  app.add_flag("--replace", options.publish.replaceStale, kPlatformHelp.replace)->group(publishing);
  app.add_flag("--refuse-readers", options.publish.refuseReaders, kPlatformHelp.refuseReaders)
      ->group(publishing);
}

// Applies what was `given` to `options`: the sample is the base, whatever stands where, and each
// value is parsed once. Throws UsageError.
void applyOptions(const GivenOptions& given, SimOptions& options) {
  options.raw = given.rawOption->count() != 0;
  if (options.raw) {
    if (options.rawPath.empty()) throw UsageError{"--raw: the file name is empty"};
    for (const CLI::Option* option : given.described) {
      if (*option) throw UsageError{"--raw: cannot be combined with " + option->get_name()};
    }
  }
  if (given.sample) options.block = sampleBlock();
  if (*given.versionOption) options.block.version = given.version;
  if (*given.flagsOption) options.block.flags = given.flags;
  for (const KindOptions& kind : given.kinds) {
    ReadingsDescription& readings = options.block.readings(kind.kind);
    if (*kind.valuesOption) {
      readings.entries = entriesOf(kind);
      readings.count = static_cast<std::uint16_t>(readings.entries.size());
    }
    if (*kind.countOption) readings.count = kind.count;
  }
}

}  // namespace

std::optional<int> parseSimOptions(int argc, char** argv, SimOptions* options) {
  // Everything after "--" is the command, untouched by the parser.
  int optionCount = 1;
  while (optionCount < argc && std::strcmp(argv[optionCount], "--") != 0) ++optionCount;

  CLI::App app(
      "Publishes a Korvalen sensor block under the monitor's name, KVSharedMemory_QDX,\n"
      "for korvalen-snapshot to read, and withdraws it when done.",
      "korvalen-sim");
  GivenOptions given;
  declareOptions(app, given, *options);
  if (const std::optional<int> status =
          parseCommandLine(app, optionCount, argv, "; a command goes after --")) {
    return status;
  }
  if (optionCount + 1 == argc) return usageError(app, "--: no command follows");
  try {
    applyOptions(given, *options);
  } catch (const UsageError& error) {
    return usageError(app, error.message);
  }
  options->command.assign(argv + std::min(optionCount + 1, argc), argv + argc);
  return std::nullopt;
}
