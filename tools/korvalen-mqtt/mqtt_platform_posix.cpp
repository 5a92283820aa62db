#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mqtt_platform.h"

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

std::string passwordFileProblem(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && (status.st_mode & 044) != 0)
    return "the group or others may read it: make it the user's alone (chmod 600)";
  return "";
}
