#pragma once
// One call of the library: the entries chosen by the specifications, extracted or tested
// on worker threads while the calling thread reports through the callback.

#include <string>
#include <vector>

#include "CompressionLibraries.h"

namespace sluice {

struct BatchOptions {
  std::string archive;
  std::vector<std::string> specs;  // empty: every entry
  std::string password;
  bool test = false, update = false, freshen = false, dirNames = false, overwrite = false;
  bool verbose = false;
  int nameCodePage = 0;  // see ReadDirectory
  LibraryCallback callback = nullptr;
  void* caller = nullptr;
  int threads = 2;
};

// Returns the number of entries extracted or tested without error.
int32_t RunBatch(const BatchOptions& options);

// Pattern match with '*' and '?' only; "*.*" matches every name, with or without a dot.
bool MatchesSpec(const std::string& pattern, const std::string& name);

}  // namespace sluice
