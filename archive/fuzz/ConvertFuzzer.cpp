// Converts the input both ways: as a self-extracting program back to a plain archive
// (ConvertZIP), and as a plain archive into a program (ConvertSFX, which rewrites the
// directory through CopyCentralDir).

#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "TMarlin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzscratch::Clear();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    TMarlin m;
    m.SetUnattended(true);
    m.SetHowToDelete(DeleteOpts::htdFinal);  // never the user's trash
    m.SetZipFilename(fuzzscratch::Write("program.exe", bytes));
    m.ConvertZIP();
  }
  {
    TMarlin m;
    m.SetUnattended(true);
    m.SetHowToDelete(DeleteOpts::htdFinal);
    m.SetSFXPath(fuzzscratch::Write("stub.bin", std::string(300, 'S')));
    m.SetZipFilename(fuzzscratch::Write("plain.zip", bytes));
    m.ConvertSFX();
  }
  return 0;
}
