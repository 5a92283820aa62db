// Runs a libFuzzer target over the files of the folders given, once each, as libFuzzer would
// replay its finds: the sanitizers' build sees every seed and every crash kept.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "process.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      const std::string bytes = readFile(entry.path().string());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
