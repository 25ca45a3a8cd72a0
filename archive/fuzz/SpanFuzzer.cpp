// Joins a set of numbered volumes written from the input (files separated by a marker
// line): the reader must refuse what does not fit together, never crash or run away.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzScratch.h"
#include "TMarlin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzscratch::Clear();
  const auto files = fuzzscratch::SplitFiles(data, size);
  if (files.size() > 12) return -1;  // sets of more volumes add nothing the small ones lack
  std::string last;
  for (size_t i = 0; i < files.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "set%03zu.zip", i + 1);
    last = fuzzscratch::Write(name, files[i]);
  }
  const std::string folder = fuzzscratch::Folder() + "/out/";
  ::mkdir(folder.c_str(), 0755);
  TMarlin m;
  m.SetUnattended(true);
  std::string out = folder;
  m.ReadSpan(last, out);
  return 0;
}
