// korvalen-sim: a stand-in for the Korvalen monitor. It publishes one sensor block under the
// monitor's name, for demos and tests of korvalen-snapshot, and withdraws it when done.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "common/block_encoder.h"
#include "sim_platform.h"

namespace {

constexpr int kUsageStatus = 64;    // EX_USAGE
constexpr int kNoInputStatus = 66;  // EX_NOINPUT: the raw file cannot be read or is too large
// Far more than any record, far less than memory: a raw block is read whole before publishing.
constexpr std::size_t kMaxRawBytes = 1024 * 1024;

constexpr const char* kListsHelp =
    "Lists: --temperatures, --fans and --voltages take comma-separated values, none\n"
    "of them empty, at most 32 of a kind; given again, each adds its values to those\n"
    "before. Every other option is given once.\n\n";
constexpr const char* kStatusHelp =
    "\nExit status: COMMAND's, or 0 when held; 64 bad usage; 66 raw file unreadable or\n"
    "over 1 MiB; 73 block already published or not creatable; 126 COMMAND cannot\n"
    "be run; 127 COMMAND not found.";

// Parses a decimal with at most two places ("-12.5") into hundredths, exactly; nothing else.
std::optional<long long> parseHundredths(std::string_view text) {
  std::size_t at = 0;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;
  long long magnitude = 0;
  std::size_t wholeDigits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++wholeDigits) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > 100000000LL) return std::nullopt;
  }
  std::size_t placeDigits = 0;
  long long places = 0;
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++placeDigits) {
      places = places * 10 + (text[at] - '0');
    }
    if (placeDigits == 0) return std::nullopt;
  }
  if (at != text.size() || wholeDigits == 0 || placeDigits > 2) return std::nullopt;
  if (placeDigits == 1) places *= 10;
  const long long hundredths = (negative ? -1 : 1) * (magnitude * 100 + places);
  if (hundredths < INT32_MIN || hundredths > INT32_MAX) return std::nullopt;
  return hundredths;
}

// Parses plain decimal digits with an optional '-' ("-007" is -7) into a number from `least` to
// `most`; nothing else. CLI11 alone would convert with strtoll in base 0, which takes white
// space, '+', "0x" and octal.
std::optional<long long> parseWhole(std::string_view text, long long least, long long most) {
  const std::size_t digitsFrom = text.size() > 1 && text[0] == '-' ? 1 : 0;
  if (digitsFrom == text.size()) return std::nullopt;
  long long magnitude = 0;
  for (std::size_t at = digitsFrom; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > 1LL << 40) return std::nullopt;  // far beyond any range asked for
  }
  const long long value = digitsFrom == 1 ? -magnitude : magnitude;
  if (value < least || value > most) return std::nullopt;
  return value;
}

// Admits a whole number from `least` to `most`, rewritten in plain digits for CLI11 to convert.
CLI::Validator wholeFrom(long long least, long long most) {
  return CLI::Validator(
      [least, most](std::string& text) -> std::string {
        const std::optional<long long> value = parseWhole(text, least, most);
        if (!value) {
          return "'" + text + "' is not a whole number from " + std::to_string(least) + " to " +
                 std::to_string(most);
        }
        text = std::to_string(*value);
        return {};
      },
      "");
}

// Admits one comma-separated list of readings, none of them empty: hundredths when `scaled`,
// whole 32-bit numbers otherwise. Rewrites it as the entries themselves, still comma-separated;
// CLI11's own splitting would drop empty items, so the list is split here.
CLI::Validator readingList(bool scaled) {
  return CLI::Validator(
      [scaled](std::string& text) -> std::string {
        std::string entries;
        for (std::size_t from = 0;; ++from) {
          const std::size_t comma = std::min(text.find(',', from), text.size());
          const std::string_view item = std::string_view(text).substr(from, comma - from);
          if (item.empty()) return "'" + text + "' has an empty value";
          const std::optional<long long> entry =
              scaled ? parseHundredths(item) : parseWhole(item, INT32_MIN, INT32_MAX);
          if (!entry) {
            return "'" + std::string(item) +
                   (scaled ? "' is not a decimal with at most two places from -21474836.48 to "
                             "21474836.47"
                           : "' is not a whole number from -2147483648 to 2147483647");
          }
          entries += (entries.empty() ? "" : ",") + std::to_string(*entry);
          if ((from = comma) == text.size()) break;
        }
        text = entries;
        return {};
      },
      "");
}

// CLI11's help with the usage line first, including the command, and one blank line between
// groups. Each option shows its own placeholder, set with option_text, and the descriptions
// are wrapped by hand to fit 80 columns.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(28); }
  std::string make_description(const CLI::App*) const override { return {}; }
  std::string make_usage(const CLI::App* app, std::string) const override {
    return "Usage: korvalen-sim [OPTIONS] [-- COMMAND [ARG...]]\n\n" + app->get_description() +
           "\n\n";
  }
  std::string make_group(std::string group, bool positional,
                         std::vector<const CLI::Option*> options) const override {
    return CLI::Formatter::make_group(std::move(group), positional, std::move(options)).substr(1);
  }
};

BlockDescription sampleBlock() {
  return {.version = 3,
          .flags = 1,
          .temperatures = {4, {4550, 3825, 5100, 2975}},
          .fans = {3, {1240, 980, 0}},
          .voltages = {4, {120, 331, 502, 1210}}};
}

struct SimOptions {
  BlockDescription block;
  bool raw = false;
  std::string rawPath;
  PublishOptions publish;
  bool churn = false;
  std::vector<std::string> command;  // empty: hold
};

// One kind of reading on the command line: its lists of values and the count to publish.
struct KindOptions {
  ReadingKind kind;
  const char* valuesName;
  const char* countName;
  const char* valuesHelp;
  bool scaled;
  std::vector<std::string> lists{};
  std::uint16_t count = 0;
  CLI::Option* valuesOption = nullptr;
  CLI::Option* countOption = nullptr;
};

// Prints a usage error: one line that begins with what it is about, and where to look.
int usageError(const std::string& message) {
  std::fprintf(stderr, "korvalen-sim: %s\nRun 'korvalen-sim --help' for the options.\n",
               message.c_str());
  return kUsageStatus;
}

// Parses the command line. Returns the options, or an exit status once help, the version or a
// usage error has been printed.
std::variant<SimOptions, int> parseOptions(int argc, char** argv) {
  // Everything after "--" is the command, untouched by the parser.
  int optionCount = 1;
  while (optionCount < argc && std::strcmp(argv[optionCount], "--") != 0) ++optionCount;

  SimOptions options;
  CLI::App app(
      "Publishes a Korvalen sensor block under the monitor's name, KVSharedMemory_QDX,\n"
      "for korvalen-snapshot to read, and withdraws it when done.",
      "korvalen-sim");
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_version_flag("--version", "korvalen-sim " KORVALEN_VERSION,
                       "Print korvalen-sim's version and exit");
  app.footer(std::string(kListsHelp) + kPlatformHelp.lifetime + kStatusHelp);
  bool sample = false;
  std::uint16_t version = 0, flags = 0;
  const char* const block = "Block (options amend the default: version 1, flags 0, no readings)";
  std::vector<CLI::Option*> described{
      app.add_flag("--sample", sample, "start from the sample readings, wherever it stands")};
  CLI::Option* versionOption =
      app.add_option("--block-version", version, "the block's version field, 0 to 65535");
  CLI::Option* flagsOption = app.add_option("--flags", flags, "the block's flag word, 0 to 65535");
  for (CLI::Option* header : {versionOption, flagsOption}) {
    header->transform(wholeFrom(0, 65535))->option_text("N");
    described.push_back(header);
  }
  KindOptions kinds[] = {
      {ReadingKind::temperatures, "--temperatures", "--temperature-count",
       "degrees, up to two decimals each", true},
      {ReadingKind::fans, "--fans", "--fan-count", "fan readings, whole numbers", false},
      {ReadingKind::voltages, "--voltages", "--voltage-count", "volts, up to two decimals each",
       true}};
  for (KindOptions& kind : kinds) {
    kind.valuesOption = app.add_option(kind.valuesName, kind.lists, kind.valuesHelp)
                            ->transform(readingList(kind.scaled))
                            ->option_text(kind.scaled ? "DECIMALS" : "N,...")
                            ->expected(1, static_cast<int>(kMaxReadings));
    kind.countOption =
        app.add_option(kind.countName, kind.count,
                       "the count to publish, 0 to 65535 (default:\nthe number of values)")
            ->transform(wholeFrom(0, 65535))
            ->option_text("N");
    described.push_back(kind.valuesOption);
    described.push_back(kind.countOption);
  }
  for (CLI::Option* option : described) option->group(block);
  CLI::Option* raw =
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

  try {
    app.parse(optionCount, argv);
  } catch (const CLI::ExtrasError&) {
    const std::string extra = app.remaining().front();
    return usageError(extra + (extra.rfind('-', 0) == 0
                                   ? ": no such option"
                                   : ": unexpected argument; a command goes after --"));
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    return usageError(error.what());
  }
  if (optionCount + 1 == argc) return usageError("--: no command follows");
  options.raw = raw->count() != 0;
  if (options.raw) {
    if (options.rawPath.empty()) return usageError("--raw: the file name is empty");
    for (const CLI::Option* option : described) {
      if (*option) return usageError("--raw: cannot be combined with " + option->get_name());
    }
  }

  if (sample) options.block = sampleBlock();
  if (*versionOption) options.block.version = version;
  if (*flagsOption) options.block.flags = flags;
  for (const KindOptions& kind : kinds) {
    ReadingsDescription& readings = options.block.readings(kind.kind);
    if (*kind.valuesOption) {
      readings.entries.clear();
      for (const std::string& list : kind.lists) {
        std::size_t from = 0;
        for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos;) {
          readings.entries.push_back(std::stoi(list.substr(from, comma - from)));
          from = comma + 1;
        }
        readings.entries.push_back(std::stoi(list.substr(from)));
      }
      if (readings.entries.size() > kMaxReadings) {
        return usageError(std::string(kind.valuesName) + ": at most 32 values in all, not " +
                          std::to_string(readings.entries.size()));
      }
      readings.count = static_cast<std::uint16_t>(readings.entries.size());
    }
    if (*kind.countOption) readings.count = kind.count;
  }
  options.command.assign(argv + std::min(optionCount + 1, argc), argv + argc);
  return options;
}

// Reads the file at `path`, up to kMaxRawBytes. Returns false after a message on stderr.
bool readRawFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "korvalen-sim: --raw: cannot read '%s': %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  // One byte more than allowed tells a file that is too large, without reading it all.
  bytes->resize(kMaxRawBytes + 1);
  const std::size_t got = std::fread(bytes->data(), 1, bytes->size(), file);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  bytes->resize(got);
  if (failed) {
    std::fprintf(stderr, "korvalen-sim: --raw: cannot read '%s': %s\n", path.c_str(),
                 std::strerror(error));
    return false;
  }
  if (got > kMaxRawBytes) {
    std::fprintf(stderr, "korvalen-sim: --raw: '%s' holds more than %zu bytes\n", path.c_str(),
                 kMaxRawBytes);
    return false;
  }
  return true;
}

// Small, fast and good enough to mix counts and readings.
std::uint32_t nextRandom(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// Rewrites counts and readings until `stop` is set. Every reading keeps its slot number in its
// low byte, so a reader can tell which slot a printed value came from.
void churn(volatile std::uint8_t* block, const std::atomic<bool>& stop) {
  std::uint32_t state = 0x9E3779B9u;
  while (!stop.load(std::memory_order_relaxed)) {
    for (ReadingKind kind : kReadingKinds) {
      const std::uint32_t pick = nextRandom(state);
      const std::uint32_t counts[] = {0,
                                      1,
                                      kMaxReadings,
                                      kMaxReadings + 1 + (pick >> 8) % 1000,
                                      65535,
                                      (pick >> 8) % kMaxReadings};
      storeCount(block, kind, static_cast<std::uint16_t>(counts[pick % 6]));
      for (unsigned slot = 0; slot < kMaxReadings; ++slot) {
        const std::uint32_t bits = (nextRandom(state) & 0xFFFFFF00u) | slot;
        storeEntry(block, kind, slot, static_cast<std::int32_t>(bits));
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // First of all, so that no stop between here and the wait can be lost.
  installStopHandlers();
  const std::variant<SimOptions, int> parsed = parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const SimOptions& options = std::get<SimOptions>(parsed);

  std::vector<std::uint8_t> bytes;
  if (!options.raw) {
    bytes = encodeBlock(options.block);
  } else if (!readRawFile(options.rawPath, &bytes)) {
    return kNoInputStatus;
  }
  if (options.churn && bytes.size() < kSensorBlockSize) {
    std::fprintf(stderr, "korvalen-sim: --churn: the block must hold at least %zu bytes\n",
                 kSensorBlockSize);
    return kUsageStatus;
  }

  PublishedBlock block;
  if (!publishBlock(kSensorMappingName, bytes.data(), bytes.size(), options.publish, &block)) {
    return kCantCreateStatus;
  }

  std::atomic<bool> stopChurn{false};
  std::thread churner;
  if (options.churn) churner = std::thread(churn, block.bytes, std::cref(stopChurn));

  int status = 0;
  if (!options.command.empty()) {
    status = runCommand(options.command);
  } else {
    std::fprintf(stderr, "korvalen-sim: publishing %s (%zu bytes); %s withdraws it\n",
                 kSensorMappingName, bytes.size(), kPlatformHelp.holdStops);
    holdUntilStopped();
  }

  if (churner.joinable()) {
    stopChurn.store(true, std::memory_order_relaxed);
    churner.join();
  }
  withdrawBlock(kSensorMappingName, &block);
  return status;
}
