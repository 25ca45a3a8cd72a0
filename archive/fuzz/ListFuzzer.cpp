// Feeds arbitrary bytes to the directory reader: it must neither crash nor read or
// allocate beyond what the file holds.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "TMarlin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    std::string p = "/tmp/marlin-fuzz-XXXXXX";
    const int fd = ::mkstemp(p.data());
    ::close(fd);
    return p;
  }();
  FileHandle f;
  if (!f.Create(path) || f.Write(data, size) != int64_t(size)) return 0;
  f.Close();
  TMarlin m;
  m.SetUnattended(true);
  m.SetZipFilename(path);
  return 0;
}
