// test-sleeper SECONDS: a command that waits, then exits with 9; the Windows lifetime test runs it
// under korvalen-sim and looks for it afterwards.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(1000u * static_cast<unsigned>(argc > 1 ? std::atoi(argv[1]) : 30));
  return 9;
}
