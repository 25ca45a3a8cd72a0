#pragma once
// One call of the library: the entries chosen by the specifications, extracted or tested
// on worker threads while the calling thread reports through the callback.

#include <algorithm>
#include <string>
#include <thread>
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
  // Workers: one a core, at least two (one may wait on a slow write while the other decodes),
  // at most four (each keeps up to 8 MiB of buffers).
  int threads = DefaultThreads();

  static int DefaultThreads() { return std::clamp(int(std::thread::hardware_concurrency()), 2, 4); }
};

// Returns the number of entries extracted or tested without error.
int32_t RunBatch(const BatchOptions& options);

// Pattern match with '*' and '?' only; "*.*" matches every name, with or without a dot.
bool MatchesSpec(const std::string& pattern, const std::string& name);

}  // namespace sluice
