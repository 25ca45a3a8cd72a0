// Feeds arbitrary bytes to the directory reader: it must neither crash nor read or
// allocate beyond what the file holds.

#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "TMarlin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path =
      fuzzscratch::Write("input.zip", std::string_view(reinterpret_cast<const char*>(data), size));
  TMarlin m;
  m.SetUnattended(true);
  m.SetZipFilename(path);
  return 0;
}
