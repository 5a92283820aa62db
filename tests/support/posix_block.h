// POSIX: the block as the object /dev/shm/KVSharedMemory_QDX, which tests plant, watch and clear.
#ifndef KORVALEN_TESTS_SUPPORT_POSIX_BLOCK_H
#define KORVALEN_TESTS_SUPPORT_POSIX_BLOCK_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

inline const char* const kObjectPath = "/dev/shm/KVSharedMemory_QDX";

inline bool objectExists() {
  struct stat status;
  return lstat(kObjectPath, &status) == 0;
}

// Waits up to five seconds for the block to appear.
inline void awaitObject() {
  for (int i = 0; i < 500 && !objectExists(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Starts with the name free, and removes whatever a test left under it.
class PosixBlock : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(objectExists()) << kObjectPath << " is in use"; }
  void TearDown() override { unlink(kObjectPath); }
};

#endif  // KORVALEN_TESTS_SUPPORT_POSIX_BLOCK_H
