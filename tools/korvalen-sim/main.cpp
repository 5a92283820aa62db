// korvalen-sim: a stand-in for the Korvalen monitor. It publishes one sensor block under the
// monitor's name, for demos and tests of korvalen-snapshot, and withdraws it when done.
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "block_encoder.h"
#include "sim_options.h"
#include "sim_platform.h"

namespace {

// Far more than any record, far less than memory: a raw block is read whole before publishing.
constexpr std::size_t kMaxRawBytes = 1024 * 1024;

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
    for (const ReadingKindInfo& kind : kReadingKinds) {
      const std::uint32_t pick = nextRandom(state);
      const std::uint32_t counts[] = {0,
                                      1,
                                      kMaxReadings,
                                      kMaxReadings + 1 + (pick >> 8) % 1000,
                                      65535,
                                      (pick >> 8) % kMaxReadings};
      storeCount(block, kind.kind, static_cast<std::uint16_t>(counts[pick % 6]));
      for (unsigned slot = 0; slot < kMaxReadings; ++slot) {
        const std::uint32_t bits = (nextRandom(state) & 0xFFFFFF00u) | slot;
        storeEntry(block, kind.kind, slot, static_cast<std::int32_t>(bits));
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  if (const std::optional<int> status = parseSimOptions(argc, argv, &options)) return *status;

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

  // Until here a stop ends the sim as it would any program, publishing nothing, even while it
  // waits for --raw's input from a FIFO; from here on, no stop before the wait can be lost.
  installStopHandlers();
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
