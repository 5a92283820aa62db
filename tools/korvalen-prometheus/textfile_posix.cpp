// POSIX: OUTPUT replaced in three steps, each its own part (textfile_posix.h): resolved without
// being steered by another user, cleared of what killed runs left, and written atomically, all
// through the one folder descriptor the walk ends with, so that a folder swapped meanwhile
// changes nothing.
#include "textfile_posix.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "textfile.h"

bool replaceFile(const std::string& path, const std::string& text, std::string* reason) {
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, stop);
  sigprocmask(SIG_BLOCK, &stops, &previous);

  OutputPlace place;
  bool replaced = resolveOutput(path, &place, reason);
  if (replaced) {
    const std::string prefix = temporaryPrefix(place.folder, place.name);
    removeAbandoned(place.folder, prefix);
    const int error = writeAtomically(place.folder, place.name, prefix, text);
    if (error != 0) *reason = std::strerror(error);
    replaced = error == 0;
    close(place.folder);
  }

  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return replaced;
}
