// Writing the textfile that an exporter's textfile collector serves, one implementation per
// platform.
#ifndef KORVALEN_PROMETHEUS_TEXTFILE_H
#define KORVALEN_PROMETHEUS_TEXTFILE_H

#include <string>

// Replaces the file at `path` by one that holds `text`, whole: writes a temporary file in the
// same folder (never named *.prom, so that no collector reads it), flushes it to the disk and
// renames it over `path`, so that a reader finds either the old file or the new one, never part
// of one. A stop (SIGINT, SIGTERM, SIGHUP) that arrives meanwhile takes effect afterwards.
// Returns true; or false with `*reason` set to the system's words for what failed, `path` left
// as it was and no temporary file behind.
bool replaceFile(const std::string& path, const std::string& text, std::string* reason);

#endif  // KORVALEN_PROMETHEUS_TEXTFILE_H
