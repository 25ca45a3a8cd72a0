#pragma once
// The permissions an extracted file or folder gets, for the decompressor library and the
// static stub alike: the archive's permission bits as the user's umask allows them (never
// set-user-id, set-group-id or sticky), or the usual defaults when the archive has none.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

namespace filemodes {

// The process's umask. Read from /proc where it can be: setting it to read it back would
// let another thread create a file with no umask in between.
inline mode_t CurrentUmask() {
  if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
      found = std::strncmp(line, "Umask:", 6) == 0 && std::sscanf(line + 6, "%o", &value) == 1;
    std::fclose(f);
    if (found) return mode_t(value & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// `unixMode` is the entry's mode from the archive, 0 when it was written elsewhere.
inline mode_t ExtractedMode(uint32_t unixMode, bool folder, mode_t umask) {
  const mode_t bits = (unixMode & 0777) ? mode_t(unixMode & 0777) : mode_t(folder ? 0777 : 0666);
  return bits & ~umask & 0777;
}

}  // namespace filemodes
