// The decompressor library's test and extract paths over the input as an archive:
// extraction goes into a scratch folder and must stay there.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "CompressionLibraries.h"
#include "FuzzScratch.h"

extern "C" int32_t SluiceExec(SluiceParamsCommon* params);

namespace {

int32_t Quiet(CallbackRecord*) { return 0; }

void Run(const std::string& archive, bool test) {
  std::string path = archive;
  char password[PASSWORD_BUFFER_SIZE] = "password";
  SluiceParams p{};
  p.Common.WindowHandle = 0;  // unattended: nothing is asked
  p.Common.RecordVersion = SLUICE_RECORD_VERSION;
  p.Common.CallbackProc = &Quiet;
  p.Common.PasswordText = password;
  p.Common.TestOn = test ? LIBRARY_FLAG_TRUE : LIBRARY_FLAG_FALSE;
  p.Common.AlwaysOn = LIBRARY_FLAG_TRUE;
  p.Common.DirNamesOn = LIBRARY_FLAG_TRUE;
  p.Common.OverwriteOn = LIBRARY_FLAG_TRUE;
  p.Common.ArchivePath = path.data();
  p.Marker = PARAMS_MARKER;
  SluiceExec(&p.Common);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzscratch::Clear();
  const std::string archive =
      fuzzscratch::Write("input.zip", std::string_view(reinterpret_cast<const char*>(data), size));
  Run(archive, true);
  // The library extracts into the current folder.
  const std::string out = fuzzscratch::Folder() + "/out";
  ::mkdir(out.c_str(), 0755);
  const int saved = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (saved < 0 || ::chdir(out.c_str()) != 0) std::abort();
  Run(archive, false);
  if (::fchdir(saved) != 0) std::abort();
  ::close(saved);
  return 0;
}
