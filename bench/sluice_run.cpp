// Extracts or tests an archive through libsluice.so as the component would, for the
// benchmark. Usage: sluice_run LIBRARY extract|test ARCHIVE (extracts into the current folder)
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "CompressionLibraries.h"

static int errors = 0;

static int32_t Callback(CallbackRecord* r) {
  if (r->ActionCode == kActionMessage && r->ErrorCode != 0) {
    ++errors;
    std::fprintf(stderr, "%.*s\n", CALLBACK_TEXT_SIZE, r->Text);
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LIBRARY extract|test ARCHIVE\n", argv[0]);
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW);
  auto exec = lib ? reinterpret_cast<SluiceExecFn>(dlsym(lib, "SluiceExec")) : nullptr;
  if (!exec) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  char password[PASSWORD_BUFFER_SIZE] = {};
  SluiceParams p{};
  p.Common.WindowHandle = 0;
  p.Common.RecordVersion = SLUICE_RECORD_VERSION;
  p.Common.CallbackProc = Callback;
  p.Common.PasswordText = password;
  p.Common.TestOn = std::strcmp(argv[2], "test") == 0 ? LIBRARY_FLAG_TRUE : LIBRARY_FLAG_FALSE;
  p.Common.AlwaysOn = LIBRARY_FLAG_TRUE;
  p.Common.DirNamesOn = LIBRARY_FLAG_TRUE;
  p.Common.OverwriteOn = LIBRARY_FLAG_TRUE;
  p.Common.ArchivePath = argv[3];
  p.Marker = PARAMS_MARKER;
  const int32_t count = exec(&p.Common);
  std::fprintf(stderr, "%d entries\n", count);
  return errors ? 1 : 0;
}
