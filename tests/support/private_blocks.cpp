// test-private-blocks COMMAND [ARG...]: runs COMMAND with a /dev/shm of its own where one can be
// had (usePrivateBlockFolder), for the shell tests that publish blocks.
#include <unistd.h>

#include <cstdio>

#include "support/process.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: test-private-blocks COMMAND [ARG...]\n");
    return 64;
  }
  usePrivateBlockFolder();
  execvp(argv[1], argv + 1);
  std::perror(argv[1]);
  return 127;
}
