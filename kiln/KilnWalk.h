#pragma once
// From the file names and patterns given to the list of things to add.

#include "KilnTypes.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace kiln {

struct AddItem {
  enum class Kind { File, Dir, Link };
  Kind kind = Kind::File;
  std::string path;    // where it is on disk
  std::string name;    // stored name, folders with a trailing '/'
  struct stat st {};
  std::string target;  // of a link
};

// Walks every name or pattern given; messages go to reporter.Defer. `archive` is the archive's
// own status (st_ino 0 when it does not exist), never added to itself.
std::vector<AddItem> WalkSpecs(const Request& request, Reporter& reporter, const struct stat& archive);

}  // namespace kiln
