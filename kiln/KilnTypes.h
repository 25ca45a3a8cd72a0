#pragma once
// What one call of the library was asked to do, read from either parameter layout.

#include <CompressionLibraries.h>

#include <string>
#include <vector>

namespace kiln {

struct Request {
  void* caller = nullptr;
  LibraryCallback callback = nullptr;
  bool trace = false;
  bool encrypt = false;
  bool hiddenFiles = false;
  bool noDirEntries = false;
  bool verbose = false;
  bool noDirNames = false;
  bool recurse = false;
  bool append = false;
  bool forceDos = false;
  bool move = false;
  bool deleteOn = false;
  bool update = false;
  bool freshen = false;
  bool zipTime = false;
  int level = 6;
  int nameCodePage = 0;  // names without the UTF-8 flag; 0: compared as stored
  std::string password;
  std::string archivePath;
  std::vector<std::string> specs;
};

class Reporter;

// Whether a flag field holds "true": any nonzero value, so that 1 and -1 both count.
inline bool Flag(int32_t v) { return v != 0; }

int RunAdd(const Request& request, Reporter& reporter);
int RunDelete(const Request& request, Reporter& reporter);

}  // namespace kiln
