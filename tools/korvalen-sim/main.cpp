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

constexpr const char* kFooter =
    "Lifetime:\n"
    "  -- COMMAND [ARG...]    run COMMAND while the block is published, withdraw the block, and\n"
    "                         exit with COMMAND's status; without a command, hold the block\n"
    "                         until SIGINT, SIGTERM, SIGHUP, SIGQUIT or end of standard input\n"
    "\n"
    "Exit status: COMMAND's, or 0 when held; 64 bad usage; 66 raw file unreadable or over\n"
    "1 MiB; 73 block already published or not creatable; 126 COMMAND cannot be executed;\n"
    "127 COMMAND not found.";

// Parses a decimal with at most two places ("-12.5") into hundredths, exactly; nothing else.
std::optional<std::int32_t> parseHundredths(std::string_view text) {
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
  return static_cast<std::int32_t>(hundredths);
}

// Turns a decimal with up to two places into its hundredths, which CLI11 then converts.
const CLI::Validator kHundredths(
    [](std::string& text) -> std::string {
      const std::optional<std::int32_t> hundredths = parseHundredths(text);
      if (!hundredths) {
        return "'" + text +
               "' is not a decimal with at most two places from -21474836.48 to 21474836.47";
      }
      text = std::to_string(*hundredths);
      return {};
    },
    "DECIMAL");

// Admits plain decimal digits with an optional '-', and drops leading zeros: CLI11 converts with
// strtoll in base 0, which would take white space, '+', "0x" and octal.
const CLI::Validator kWhole(
    [](std::string& text) -> std::string {
      const std::size_t digitsFrom = text.size() > 1 && text[0] == '-' ? 1 : 0;
      if (digitsFrom == text.size() ||
          text.find_first_not_of("0123456789", digitsFrom) != std::string::npos) {
        return "'" + text + "' is not a whole number";
      }
      const std::size_t significant =
          std::min(text.find_first_not_of('0', digitsFrom), text.size() - 1);
      text.erase(digitsFrom, significant - digitsFrom);
      return {};
    },
    "WHOLE");

const CLI::Range kSixteenBits(0, 65535);

BlockDescription sampleBlock() {
  return {.version = 3,
          .flags = 1,
          .temperatures = {4, {4550, 3825, 5100, 2975}},
          .fans = {3, {1240, 980, 0}},
          .voltages = {4, {120, 331, 502, 1210}}};
}

struct SimOptions {
  BlockDescription block;
  std::string rawPath;  // empty: the described block
  PublishOptions publish;
  bool churn = false;
  std::vector<std::string> command;  // empty: hold
};

// One kind of reading on the command line: its values and the count to publish.
struct KindOptions {
  ReadingKind kind;
  const char* valuesName;
  const char* countName;
  const char* unit;
  bool scaled;
  std::vector<std::int32_t> values{};
  std::uint16_t count = 0;
  CLI::Option* valuesOption = nullptr;
  CLI::Option* countOption = nullptr;
};

// Parses the command line. Returns the options, or an exit status once help, the version or a
// usage error has been printed.
std::variant<SimOptions, int> parseOptions(int argc, char** argv) {
  // Everything after "--" is the command, untouched by the parser.
  int optionCount = 1;
  while (optionCount < argc && std::strcmp(argv[optionCount], "--") != 0) ++optionCount;

  SimOptions options;
  CLI::App app(
      "Publishes a Korvalen sensor block under the monitor's name for korvalen-snapshot "
      "to read. Block options amend the default block (version 1, flags 0, no "
      "readings), or --sample wherever it stands.",
      "korvalen-sim");
  app.set_version_flag("--version", "korvalen-sim " KORVALEN_VERSION);
  app.footer(kFooter);
  bool sample = false;
  std::uint16_t version = 0, flags = 0;
  CLI::Option* versionOption =
      app.add_option("--block-version", version, "the block's version field, 0 to 65535")
          ->transform(kWhole)
          ->check(kSixteenBits);
  CLI::Option* flagsOption = app.add_option("--flags", flags, "the block's flag word, 0 to 65535")
                                 ->transform(kWhole)
                                 ->check(kSixteenBits);
  std::vector<CLI::Option*> described{
      app.add_flag("--sample", sample, "the built-in sample readings"), versionOption, flagsOption};
  KindOptions kinds[] = {
      {ReadingKind::temperatures, "--temperatures", "--temperature-count", "degrees", true, {}},
      {ReadingKind::fans, "--fans", "--fan-count", "whole numbers", false, {}},
      {ReadingKind::voltages, "--voltages", "--voltage-count", "volts", true, {}}};
  for (KindOptions& kind : kinds) {
    kind.valuesOption = app.add_option(kind.valuesName, kind.values,
                                       std::string(kind.unit) + ", comma-separated, at most 32" +
                                           (kind.scaled ? ", up to two decimals" : ""))
                            ->delimiter(',')
                            ->expected(1, static_cast<int>(kMaxReadings));
    if (kind.scaled) {
      kind.valuesOption->transform(kHundredths);
    } else {
      kind.valuesOption->transform(kWhole)->check(CLI::Range(INT32_MIN, INT32_MAX));
    }
    kind.countOption = app.add_option(kind.countName, kind.count,
                                      "the count to publish, 0 to 65535 (default: the number "
                                      "of values)")
                           ->transform(kWhole)
                           ->check(kSixteenBits);
    described.push_back(kind.valuesOption);
    described.push_back(kind.countOption);
  }
  CLI::Option* raw = app.add_option("--raw", options.rawPath,
                                    "the bytes of FILE exactly as they stand, any "
                                    "length up to 1 MiB")
                         ->type_name("FILE");
  for (CLI::Option* option : described) raw->excludes(option);
  app.add_flag("--churn", options.churn,
               "keep rewriting counts and readings as fast as possible; each reading's low byte "
               "holds its slot number (0 to 31)");
  app.add_flag("--replace", options.publish.replaceStale,
               "remove a stale block left under the name first");
  app.add_flag("--refuse-readers", options.publish.refuseReaders,
               "publish a block that no one else may open");

  try {
    app.parse(optionCount, argv);
    if (optionCount + 1 == argc) throw CLI::ValidationError("--", "no command follows");
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    std::fprintf(stderr, "korvalen-sim: %s\nRun 'korvalen-sim --help' for the options.\n",
                 error.what());
    return kUsageStatus;
  }

  if (sample) options.block = sampleBlock();
  if (*versionOption) options.block.version = version;
  if (*flagsOption) options.block.flags = flags;
  for (const KindOptions& kind : kinds) {
    ReadingsDescription& readings = options.block.readings(kind.kind);
    if (*kind.valuesOption) {
      readings.entries = kind.values;
      readings.count = static_cast<std::uint16_t>(kind.values.size());
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
  if (options.rawPath.empty()) {
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
    std::fprintf(stderr,
                 "korvalen-sim: publishing %s (%zu bytes); Ctrl-C, SIGTERM or end of input "
                 "withdraws it\n",
                 kSensorMappingName, bytes.size());
    holdUntilStopped();
  }

  if (churner.joinable()) {
    stopChurn.store(true, std::memory_order_relaxed);
    churner.join();
  }
  withdrawBlock(kSensorMappingName, &block);
  return status;
}
