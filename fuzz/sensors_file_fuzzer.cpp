// libFuzzer target: the sensors file's reading, on any bytes. Whatever it is given, it must end
// (no crash, no undefined behaviour, no runaway recursion), and a refusal must be one line with
// no control character in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "quoting.h"
#include "sensors_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SensorsFile file;
  std::string problem;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!parseSensorsText(text, "sensors.toml", &file, &problem)) {
    for (std::size_t i = 0; i < problem.size(); ++i) {
      if (isControlAt(problem, i)) std::abort();
    }
  }
  return 0;
}
