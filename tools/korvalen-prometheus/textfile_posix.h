// The parts that replace OUTPUT on POSIX, each with one job: find where it lands without being
// steered by another user (the path walker), put the new file there whole (the atomic writer),
// and clear what killed runs left beside it. textfile_posix.cpp joins them into replaceFile.
#ifndef KORVALEN_PROMETHEUS_TEXTFILE_POSIX_H
#define KORVALEN_PROMETHEUS_TEXTFILE_POSIX_H

#include <sys/types.h>

#include <cstddef>
#include <string>

inline constexpr const char kNotRegular[] = "not a regular file";
// A temporary's name ends in this many random characters, as mkstemp's XXXXXX.
inline constexpr std::size_t kTemporaryRandom = 6;

// Where OUTPUT's file lands: the folder that holds it, open for reading, and its name there.
struct OutputPlace {
  int folder = -1;
  std::string name;
};

// The name of user `uid` in /etc/passwd, or "user UID". Read by hand: a static program has no
// name service to ask.
std::string userName(uid_t uid);

// Whether `owner` may lead the caller on, by a link or a folder that holds one: root or the
// caller.
bool trusted(uid_t owner);

// Resolves `path` from "/" (a relative one from the working folder's path) one name at a time
// through descriptors, holding one folder's at a time, "." and ".." taken by name as the path
// spells them. A folder may be anyone's: the file lands in the last one by its descriptor, so a
// folder's owner steers only what lands in their own folder. A link is followed only when it and
// the folder that holds it belong to root or to the caller, and it has no second name; any other
// is refused wherever it stands on the path ("'LINK' belongs to USER", "'LINK' stands in a
// folder that belongs to USER", "'LINK' is a link with a second name"), so that another user's
// folder is a place the file may land in, never a door elsewhere. Only a missing name or a
// regular file ends the walk; anything
// else at the end (a device, a FIFO, a socket, a folder, a dangling link) is kNotRegular.
// Returns true with `*place` set (its folder the caller's to close); or false with `*reason`
// set, in the system's words where a call failed, and nothing left open.
bool resolveOutput(const std::string& path, OutputPlace* place, std::string* reason);

// What the temporaries of `name` in `folder` begin with: `.NAME.tmp-`, NAME cut so that the
// whole name, six characters more, stays within the folder's limit on a name.
std::string temporaryPrefix(int folder, const std::string& name);

// Removes from `folder` the temporaries named `prefix` and six characters that killed runs
// left: the caller's own regular files that no live run holds locked. Anything else, alike in
// name or not, is left.
void removeAbandoned(int folder, const std::string& prefix);

// Replaces `name` in `folder` by a file that holds `text`, whole: a temporary in that folder,
// nameless where the filesystem can and else `prefix` and six characters, locked by this run
// until it ends, written, mode 0644 whatever the umask (the collector runs as a user of its
// own), flushed to the disk and renamed over `name`. Returns 0; or the error, with `name` as it
// was and no temporary left.
int writeAtomically(int folder, const std::string& name, const std::string& prefix,
                    const std::string& text);

#endif  // KORVALEN_PROMETHEUS_TEXTFILE_POSIX_H
