#pragma once
// New archives written under a name of their own (where the file system has no O_TMPFILE):
// the name carries the writer's process id; it is removed when the process is ended by
// SIGINT, SIGTERM or SIGHUP, and by a later writer of the same archive once that process is
// gone (after a kill -9 or a crash).

#include <string>

namespace kiln {

// A fresh name beside `base` in `dir` for a new archive of this process.
std::string TemporaryName(const std::string& dir, const std::string& base);

// Between these two, `name` is removed if the process is ended by one of the signals above
// (only where the signal's action is the default one: a program that handles a signal
// itself ends its operations itself).
void WatchTemporary(const std::string& name);
void ForgetTemporary(const std::string& name);

// Removes the names of new archives of `base` whose process no longer exists. For a caller
// that holds the archive's lock: no writer of ours can be using them.
void RemoveStaleTemporaries(const std::string& dir, const std::string& base);

}  // namespace kiln
