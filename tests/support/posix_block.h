// POSIX: the block as the object /dev/shm/KVSharedMemory_QDX, which tests plant, watch and clear.
#ifndef KORVALEN_TESTS_SUPPORT_POSIX_BLOCK_H
#define KORVALEN_TESTS_SUPPORT_POSIX_BLOCK_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

inline const char* const kObjectPath = "/dev/shm/KVSharedMemory_QDX";

inline bool objectExists() {
  return std::filesystem::exists(std::filesystem::symlink_status(kObjectPath));
}

// Waits up to five seconds for the block to appear.
inline void awaitObject() {
  for (int i = 0; i < 500 && !objectExists(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// An OutcomeRow's command line: the shell command `make` leaves an object at $o, the block's
// path, then `run` runs with $0, $1 and $2 for {sim}, {snapshot} and {file}; the object goes.
inline std::vector<std::string> overPlanted(const std::string& make, const std::string& run) {
  return {"/bin/sh",
          "-c",
          "o=" + std::string(kObjectPath) + "; " + make + " || exit 99; " + run +
              "; s=$?; rm -rf $o; exit $s",
          "{sim}",
          "{snapshot}",
          "{file}"};
}

// Starts with the name free, and removes whatever a test left under it.
class PosixBlock : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(objectExists()) << kObjectPath << " is in use"; }
  void TearDown() override { unlink(kObjectPath); }
};

#endif  // KORVALEN_TESTS_SUPPORT_POSIX_BLOCK_H
