// The library's two entry points: the parameter record in the layout this build's version
// selects, the trace of every field received, and the batch.

#include <cstring>
#include <string>

#include "Batch.h"
#include "CompressionLibraries.h"

#define SLUICE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

#ifdef SLUICE_OLDER_LAYOUT
using Params = SluiceParamsOlder;
constexpr int32_t kVersion = 151;
constexpr const char* kLayout = "older";
#else
using Params = SluiceParams;
constexpr int32_t kVersion = 154;
constexpr const char* kLayout = "current";
#endif

static_assert((kVersion >= SLUICE_CURRENT_LAYOUT_VERSION) == (std::string_view(kLayout) == "current"));

const char* SpecText(const Params& p, int32_t i) {
#ifdef SLUICE_OLDER_LAYOUT
  return p.SpecTexts[i];
#else
  return p.FileData[i].Text;
#endif
}

void Send(const SluiceParamsCommon& c, int32_t code, const std::string& text) {
  if (!c.CallbackProc) return;
  CallbackRecord r{};
  r.Caller = c.Caller;
  r.ActionCode = kActionMessage;
  r.ErrorCode = code;
  std::memcpy(r.Text, text.data(), std::min(text.size(), size_t(CALLBACK_TEXT_SIZE - 1)));
  c.CallbackProc(&r);
}

std::string Text(const char* s) { return s ? std::string(s) : std::string("(null)"); }

void Trace(const Params& p, int32_t specCount) {
  const SluiceParamsCommon& c = p.Common;
  auto line = [&](const std::string& s) { Send(c, 0, "Trace: " + s); };
  line("Version=" + std::to_string(kVersion) + " Layout=" + kLayout);
  line("WindowHandle=" + std::string(c.WindowHandle ? "1" : "0"));
  line("RecordVersion=" + std::to_string(c.RecordVersion));
  line("CallbackProc=" + std::string(c.CallbackProc ? "1" : "0"));
  line("TraceOn=" + std::to_string(c.TraceOn));
  line("PasswordText=" + std::to_string(c.PasswordText ? strnlen(c.PasswordText, PASSWORD_BUFFER_SIZE - 1) : 0));
  line("TestOn=" + std::to_string(c.TestOn));
  line("AlwaysOn=" + std::to_string(c.AlwaysOn));
  line("VerboseOn=" + std::to_string(c.VerboseOn));
  line("UpdateOn=" + std::to_string(c.UpdateOn));
  line("FreshenOn=" + std::to_string(c.FreshenOn));
  line("DirNamesOn=" + std::to_string(c.DirNamesOn));
  line("OverwriteOn=" + std::to_string(c.OverwriteOn));
  line("SpecCount=" + std::to_string(c.SpecCount));
  line("ArchivePath=" + Text(c.ArchivePath));
  line("Marker=" + std::to_string(p.Marker));
  for (int32_t i = 0; i < specCount; ++i) line("Spec[" + std::to_string(i) + "]=" + Text(SpecText(p, i)));
  line("NameCodePage=" + std::to_string(c.NameCodePage));
}

}  // namespace

SLUICE_EXPORT int32_t GetSluiceVersion(void) { return kVersion; }

SLUICE_EXPORT int32_t SluiceExec(SluiceParamsCommon* common) {
  if (!common) return 0;
  try {
    const Params& p = *reinterpret_cast<const Params*>(common);
    const SluiceParamsCommon& c = p.Common;
    int32_t specCount = c.SpecCount;
#ifdef SLUICE_OLDER_LAYOUT
    const bool specsValid = specCount >= 0 && specCount <= OLDER_LAYOUT_SPEC_SLOTS;
#else
    const bool specsValid = specCount >= 0 && (specCount == 0 || p.FileData);
#endif
    if (!specsValid) specCount = 0;
    if (c.TraceOn) Trace(p, specCount);
    if (p.Marker != PARAMS_MARKER || !specsValid || !c.ArchivePath) {
      Send(c, kLibErrParams, "The parameter record is malformed.");
      return 0;
    }
    sluice::BatchOptions o;
    o.archive = c.ArchivePath;
    for (int32_t i = 0; i < specCount; ++i)
      if (const char* s = SpecText(p, i)) o.specs.emplace_back(s);  // "" matches nothing
    if (c.PasswordText) o.password.assign(c.PasswordText, strnlen(c.PasswordText, PASSWORD_BUFFER_SIZE - 1));
    o.test = c.TestOn, o.update = c.UpdateOn, o.freshen = c.FreshenOn && !c.UpdateOn;
    o.dirNames = c.DirNamesOn, o.overwrite = c.OverwriteOn, o.verbose = c.VerboseOn;
    o.nameCodePage = c.NameCodePage;
    o.callback = c.CallbackProc, o.caller = c.Caller;
    return sluice::RunBatch(o);
  } catch (const std::bad_alloc&) {
    Send(*common, kLibErrMemory, "Out of memory.");
  } catch (const std::exception& e) {
    Send(*common, kLibErrParams, std::string("Unexpected failure: ") + e.what());
  }
  return 0;
}
