// korvalen-sim: a stand-in for the Korvalen monitor. It publishes one sensor block under the
// monitor's name, for demos and tests of korvalen-snapshot, and withdraws it when done.
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/run_snapshot.h"
#include "sensor/sensor_block.h"
#include "sim_platform.h"

namespace {

constexpr int kUsageStatus = 64;       // EX_USAGE
constexpr int kNoInputStatus = 66;     // EX_NOINPUT: the raw file cannot be read
constexpr int kCantCreateStatus = 73;  // EX_CANTCREAT: the block exists or cannot be made

constexpr const char* kUsage =
    "Usage: korvalen-sim [BLOCK OPTIONS] [--churn] [--replace] [-- COMMAND [ARG...]]\n"
    "Publishes a Korvalen sensor block under the monitor's name for korvalen-snapshot to read.\n"
    "\n"
    "Block (default: version 1, flags 0, no readings):\n"
    "  --sample                the built-in sample readings (later options amend them)\n"
    "  --raw FILE              the bytes of FILE exactly as they stand, any length\n"
    "  --version N             version, 0 to 65535\n"
    "  --flags N               flag word, 0 to 65535\n"
    "  --temperatures LIST     degrees, comma-separated, up to two decimals (at most 32)\n"
    "  --fans LIST             whole numbers, comma-separated (at most 32)\n"
    "  --voltages LIST         volts, comma-separated, up to two decimals (at most 32)\n"
    "  --temperature-count N   count to publish, 0 to 65535 (default: the number of values)\n"
    "  --fan-count N           likewise for fans\n"
    "  --voltage-count N       likewise for voltages\n"
    "\n"
    "Lifetime:\n"
    "  -- COMMAND [ARG...]     run COMMAND while the block is published, withdraw the block,\n"
    "                          and exit with COMMAND's status; without a command, hold the\n"
    "                          block until SIGINT, SIGTERM or end of standard input\n"
    "  --churn                 keep rewriting counts and readings as fast as possible; each\n"
    "                          reading's low byte holds its slot number (0 to 31)\n"
    "  --replace               remove a stale block left under the name first\n"
    "  --help                  show this help\n"
    "\n"
    "Exit status: COMMAND's, or 0 when held; 64 bad usage, 66 unreadable raw file, 73 block\n"
    "already published or not creatable, 127 COMMAND not startable.\n";

struct Readings {
  std::vector<std::int32_t> values;
  long count = -1;  // -1: the number of values
};

struct Options {
  const char* rawPath = nullptr;
  bool describedBlock = false;
  long version = 1;
  long flags = 0;
  Readings temperatures, fans, voltages;
  bool churn = false;
  bool replace = false;
  char** command = nullptr;
};

[[noreturn]] void usageError(const std::string& message) {
  std::fprintf(stderr, "korvalen-sim: %s\n%s", message.c_str(), kUsage);
  std::exit(kUsageStatus);
}

// Parses a decimal integer in [low, high]; exits with a usage error naming `option` otherwise.
long parseWhole(const char* option, std::string_view text, long low, long high) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), &end, 10);
  if (copy.empty() || *end != '\0' || errno == ERANGE || value < low || value > high ||
      copy.find_first_of(" \t\n+") != std::string::npos) {
    usageError(std::string(option) + ": '" + copy + "' is not a whole number from " +
               std::to_string(low) + " to " + std::to_string(high));
  }
  return static_cast<long>(value);
}

// Parses a decimal with at most two places ("-12.5") into hundredths, exactly.
std::int32_t parseHundredths(const char* option, std::string_view text) {
  const auto fail = [&]() -> std::int32_t {
    usageError(std::string(option) + ": '" + std::string(text) +
               "' is not a decimal with at most two places from -21474836.48 to 21474836.47");
  };
  std::size_t at = 0;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;
  long long magnitude = 0;
  std::size_t wholeDigits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++wholeDigits) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > 100000000LL) return fail();
  }
  std::size_t placeDigits = 0;
  long long places = 0;
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++placeDigits) {
      places = places * 10 + (text[at] - '0');
    }
    if (placeDigits == 0) return fail();
  }
  if (at != text.size() || wholeDigits == 0 || placeDigits > 2) return fail();
  if (placeDigits == 1) places *= 10;
  const long long hundredths = (negative ? -1 : 1) * (magnitude * 100 + places);
  if (hundredths < INT32_MIN || hundredths > INT32_MAX) return fail();
  return static_cast<std::int32_t>(hundredths);
}

// Parses a comma-separated list of at most kMaxReadings values; an empty list has no values.
std::vector<std::int32_t> parseList(const char* option, std::string_view text, bool scaled) {
  std::vector<std::int32_t> values;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    values.push_back(
        scaled ? parseHundredths(option, item)
               : static_cast<std::int32_t>(parseWhole(option, item, INT32_MIN, INT32_MAX)));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
    if (text.empty()) usageError(std::string(option) + ": the list ends with a comma");
  }
  if (values.size() > kMaxReadings) {
    usageError(std::string(option) + ": at most " + std::to_string(kMaxReadings) + " values");
  }
  return values;
}

void useSample(Options& options) {
  options.version = 3;
  options.flags = 1;
  options.temperatures.values = {4550, 3825, 5100, 2975};
  options.fans.values = {1240, 980, 0};
  options.voltages.values = {120, 331, 502, 1210};
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      if (i + 1 == argc) usageError("--: no command follows");
      options.command = argv + i + 1;
      break;
    }
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--churn") {
      options.churn = true;
      continue;
    }
    if (arg == "--replace") {
      options.replace = true;
      continue;
    }
    if (arg == "--sample") {
      useSample(options);
      options.describedBlock = true;
      continue;
    }
    const char* option = argv[i];
    const auto value = [&]() -> const char* {
      if (i + 1 == argc) usageError(std::string(option) + ": a value must follow");
      return argv[++i];
    };
    if (arg == "--raw") {
      options.rawPath = value();
      continue;
    }
    options.describedBlock = true;
    if (arg == "--version") {
      options.version = parseWhole(option, value(), 0, 65535);
    } else if (arg == "--flags") {
      options.flags = parseWhole(option, value(), 0, 65535);
    } else if (arg == "--temperatures") {
      options.temperatures.values = parseList(option, value(), true);
    } else if (arg == "--fans") {
      options.fans.values = parseList(option, value(), false);
    } else if (arg == "--voltages") {
      options.voltages.values = parseList(option, value(), true);
    } else if (arg == "--temperature-count") {
      options.temperatures.count = parseWhole(option, value(), 0, 65535);
    } else if (arg == "--fan-count") {
      options.fans.count = parseWhole(option, value(), 0, 65535);
    } else if (arg == "--voltage-count") {
      options.voltages.count = parseWhole(option, value(), 0, 65535);
    } else {
      usageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (options.rawPath != nullptr && options.describedBlock) {
    usageError("--raw: cannot be combined with options that describe the block");
  }
  return options;
}

void storeLittleEndian16(std::uint8_t* at, unsigned value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void storeLittleEndian32(volatile std::uint8_t* at, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint8_t>(bits);
  at[1] = static_cast<std::uint8_t>(bits >> 8);
  at[2] = static_cast<std::uint8_t>(bits >> 16);
  at[3] = static_cast<std::uint8_t>(bits >> 24);
}

void storeReadings(std::uint8_t* block, std::size_t countOffset, std::size_t arrayOffset,
                   const Readings& readings) {
  const long count =
      readings.count >= 0 ? readings.count : static_cast<long>(readings.values.size());
  storeLittleEndian16(block + countOffset, static_cast<unsigned>(count));
  for (std::size_t i = 0; i < readings.values.size(); ++i) {
    storeLittleEndian32(block + arrayOffset + i * kReadingSize, readings.values[i]);
  }
}

std::vector<std::uint8_t> describedBytes(const Options& options) {
  std::vector<std::uint8_t> block(kSensorBlockSize, 0);
  storeLittleEndian16(block.data() + kVersionOffset, static_cast<unsigned>(options.version));
  storeLittleEndian16(block.data() + kFlagsOffset, static_cast<unsigned>(options.flags));
  // The monitor's own bytes 4-11: a recognisable pattern that no reader should ever show.
  for (std::size_t i = 4; i < kTemperatureCountOffset; ++i) block[i] = 0xA5;
  storeReadings(block.data(), kTemperatureCountOffset, kTemperaturesOffset, options.temperatures);
  storeReadings(block.data(), kFanCountOffset, kFansOffset, options.fans);
  storeReadings(block.data(), kVoltageCountOffset, kVoltagesOffset, options.voltages);
  return block;
}

bool readRawFile(const char* path, std::vector<std::uint8_t>* bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::uint8_t buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
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
  static constexpr std::size_t kCountOffsets[] = {kTemperatureCountOffset, kFanCountOffset,
                                                  kVoltageCountOffset};
  static constexpr std::size_t kArrayOffsets[] = {kTemperaturesOffset, kFansOffset,
                                                  kVoltagesOffset};
  std::uint32_t state = 0x9E3779B9u;
  while (!stop.load(std::memory_order_relaxed)) {
    for (int kind = 0; kind < 3; ++kind) {
      const std::uint32_t pick = nextRandom(state);
      const std::uint32_t counts[] = {0,
                                      1,
                                      kMaxReadings,
                                      kMaxReadings + 1 + (pick >> 8) % 1000,
                                      65535,
                                      (pick >> 8) % kMaxReadings};
      const std::uint32_t count = counts[pick % 6];
      volatile std::uint8_t* countAt = block + kCountOffsets[kind];
      countAt[0] = static_cast<std::uint8_t>(count);
      countAt[1] = static_cast<std::uint8_t>(count >> 8);
      for (unsigned slot = 0; slot < kMaxReadings; ++slot) {
        const std::uint32_t bits = (nextRandom(state) & 0xFFFFFF00u) | slot;
        storeLittleEndian32(block + kArrayOffsets[kind] + slot * kReadingSize,
                            static_cast<std::int32_t>(bits));
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);

  std::vector<std::uint8_t> bytes;
  if (options.rawPath != nullptr) {
    if (!readRawFile(options.rawPath, &bytes)) {
      std::fprintf(stderr, "korvalen-sim: --raw: cannot read '%s': %s\n", options.rawPath,
                   std::strerror(errno));
      return kNoInputStatus;
    }
  } else {
    bytes = describedBytes(options);
  }
  if (options.churn && bytes.size() < kSensorBlockSize) {
    usageError("--churn: the block must hold at least " + std::to_string(kSensorBlockSize) +
               " bytes");
  }

  installStopHandlers();
  PublishedBlock block;
  if (publishBlock(kSensorMappingName, bytes.data(), bytes.size(), options.replace, &block) !=
      PublishResult::published) {
    return kCantCreateStatus;
  }

  std::atomic<bool> stopChurn{false};
  std::thread churner;
  if (options.churn) churner = std::thread(churn, block.bytes, std::cref(stopChurn));

  int status = 0;
  if (options.command != nullptr) {
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
