#include <windows.h>

#include "mqtt_platform.h"

std::string hostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  return GetComputerNameA(name, &length) ? std::string(name, length) : "";
}

unsigned long processId() { return GetCurrentProcessId(); }

std::string passwordFileProblem(const std::string&) { return ""; }
