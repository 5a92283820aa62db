// Writing the textfile that an exporter's textfile collector serves, one implementation per
// platform.
#ifndef KORVALEN_PROMETHEUS_TEXTFILE_H
#define KORVALEN_PROMETHEUS_TEXTFILE_H

#include <string>

// Replaces the file at `path` by one that holds `text`, whole, so that a reader finds either the
// old file or the new one, never part of one: the new file is written beside the old one, under
// a temporary name that no collector reads (`.NAME.tmp-*`), flushed to the disk and renamed over
// it. `path` may be missing (it is created), a regular file, or a link to a regular file (the
// file it leads to is replaced and the link kept); anything else (a device, a FIFO, a socket, a
// folder, a dangling link, a link to any of these) is refused as "not a regular file" and left
// as it was. On POSIX, a link on the way is followed only when it and its folder belong to root
// or to the caller and it has no second name, else nothing is written ("'LINK' belongs to
// USER"); a folder may be anyone's, and the file lands in it. Temporaries that killed runs
// left beside the file are removed first; those of runs still going are left alone. On POSIX a
// SIGINT, SIGTERM or SIGHUP that arrives meanwhile takes effect afterwards; on Windows a Ctrl-C
// meanwhile is ignored (a Ctrl-Break still ends the run).
// Returns true; or false with `*reason` set to what failed, in the system's words where the
// system failed, `path` left as it was and no temporary file of this run behind.
bool replaceFile(const std::string& path, const std::string& text, std::string* reason);

#endif  // KORVALEN_PROMETHEUS_TEXTFILE_H
