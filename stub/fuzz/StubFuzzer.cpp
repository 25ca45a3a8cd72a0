// The self-extractor's reader and extractor over a file of header + archive: listing,
// testing and extracting into a scratch folder must neither crash nor write outside it.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "Extractor.h"
#include "FuzzScratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace stubby;
  fuzzscratch::Clear();
  const std::string path =
      fuzzscratch::Write("program.exe", std::string_view(reinterpret_cast<const char*>(data), size));
  SelfArchive a;
  a.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (a.fd < 0) return 0;
  if (ReadArchive(a, 0)) {
    Options o;
    o.password = "password";
    o.passwordGiven = true;
    Extractor x(a, o);
    x.SetOverwrite(Overwrite::Always);
    for (const Entry& e : a.entries) x.Extract(e, -1);
    const std::string out = fuzzscratch::Folder() + "/out";
    ::mkdir(out.c_str(), 0755);
    const int root = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Twice: the second pass meets every name already there.
    for (int pass = 0; pass < 2 && root >= 0; ++pass)
      for (const Entry& e : a.entries) x.Extract(e, root);
    if (root >= 0) {
      x.RestoreFolderTimes(root);
      ::close(root);
    }
  }
  ::close(a.fd);
  return 0;
}
