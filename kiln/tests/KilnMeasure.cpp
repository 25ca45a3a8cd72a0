// A command-line driver of the built library for local timing runs (not a test):
//   kiln_measure LIBRARY ARCHIVE LEVEL [-d] PATTERN...
// adds PATTERNs recursively to ARCHIVE at LEVEL (or deletes them with -d); prints the result
// and every error message.

#include <CompressionLibraries.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static int32_t Callback(CallbackRecord* r) {
  if (r->ActionCode == kActionMessage && r->ErrorCode != 0) std::fprintf(stderr, "%d %s\n", r->ErrorCode, r->Text);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s LIBRARY ARCHIVE LEVEL [-d] PATTERN...\n", argv[0]);
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW);
  if (!lib) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  auto exec = reinterpret_cast<KilnExecFn>(dlsym(lib, "KilnExec"));
  int first = 4;
  bool del = std::strcmp(argv[4], "-d") == 0;
  if (del) ++first;
  std::vector<KilnFileData> specs(static_cast<size_t>(argc - first));
  for (int i = first; i < argc; ++i) specs[static_cast<size_t>(i - first)].Text = argv[i];
  char password[PASSWORD_BUFFER_SIZE] = {};
  KilnParams p{};
  p.Common.RecordVersion = KILN_RECORD_VERSION;
  p.Common.CallbackProc = Callback;
  p.Common.PasswordText = password;
  p.Common.AlwaysOn = LIBRARY_FLAG_TRUE;
  p.Common.Level = std::atoi(argv[3]);
  p.Common.RecurseOn = del ? 0 : static_cast<int16_t>(0xFFFF);
  p.Common.AppendOn = del ? 0 : LIBRARY_FLAG_TRUE;
  p.Common.DeleteOn = del ? LIBRARY_FLAG_TRUE : 0;
  p.Common.SpecCount = static_cast<int32_t>(specs.size());
  p.Common.ArchivePath = argv[2];
  p.FileData = specs.data();
  p.Marker = PARAMS_MARKER;
  std::printf("%d\n", exec(&p.Common));
  return 0;
}
