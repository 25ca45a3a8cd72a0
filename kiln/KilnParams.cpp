#include "KilnParams.h"

#include "KilnReporter.h"

#include <cstring>
#include <string>

namespace kiln {

namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string("(null)"); }

class Tracer {
 public:
  Tracer(Reporter& reporter, bool on) : reporter_(reporter), on_(on) {}
  void operator()(const char* field, const std::string& value) {
    if (on_) reporter_.Message(0, std::string("Trace: ") + field + "=" + value);
  }
  void operator()(const char* field, long long value) { (*this)(field, std::to_string(value)); }

 private:
  Reporter& reporter_;
  bool on_;
};

void TraceCommon(const KilnParamsCommon& c, Tracer& t) {
  t("WindowHandle", c.WindowHandle ? 1 : 0);
  t("RecordVersion", c.RecordVersion);
  t("CallbackProc", c.CallbackProc ? 1 : 0);
  t("TraceOn", c.TraceOn);
  t("PasswordText",
    c.PasswordText ? static_cast<long long>(strnlen(c.PasswordText, PASSWORD_BUFFER_SIZE - 1)) : 0);
  t("EncryptOn", c.EncryptOn);
  t("HiddenFilesOn", c.HiddenFilesOn);
  t("NoDirEntriesOn", c.NoDirEntriesOn);
  t("VerboseOn", c.VerboseOn);
  t("AlwaysOn", c.AlwaysOn);
  t("Level", c.Level);
  t("NoDirNamesOn", c.NoDirNamesOn);
  t("RecurseOn", c.RecurseOn);
  t("AppendOn", c.AppendOn);
  t("ForceDosOn", c.ForceDosOn);
  t("MoveOn", c.MoveOn);
  t("DeleteOn", c.DeleteOn);
  t("UpdateOn", c.UpdateOn);
  t("FreshenOn", c.FreshenOn);
  t("ZipTimeOn", c.ZipTimeOn);
  t("SpecCount", c.SpecCount);
  t("ArchivePath", Text(c.ArchivePath));
}

void ReadCommon(const KilnParamsCommon& c, Request& r) {
  r.caller = c.Caller;
  r.callback = c.CallbackProc;
  r.trace = Flag(c.TraceOn);
  r.encrypt = Flag(c.EncryptOn);
  r.hiddenFiles = Flag(c.HiddenFilesOn);
  r.noDirEntries = Flag(c.NoDirEntriesOn);
  r.verbose = Flag(c.VerboseOn);
  r.noDirNames = Flag(c.NoDirNamesOn);
  r.recurse = c.RecurseOn != 0;
  r.append = Flag(c.AppendOn);
  r.forceDos = Flag(c.ForceDosOn);
  r.move = Flag(c.MoveOn);
  r.deleteOn = Flag(c.DeleteOn);
  r.update = Flag(c.UpdateOn);
  r.freshen = Flag(c.FreshenOn) && !r.update;
  r.zipTime = Flag(c.ZipTimeOn);
  r.level = c.Level;
  r.nameCodePage = c.NameCodePage;
  if (c.PasswordText)
    r.password.assign(c.PasswordText, strnlen(c.PasswordText, PASSWORD_BUFFER_SIZE - 1));
  if (c.ArchivePath) r.archivePath = c.ArchivePath;
}

}  // namespace

bool ReadParams(const KilnParamsCommon* params, Request& request, Reporter& reporter) {
  if (!params) return false;
  const KilnParamsCommon& c = *params;
  Tracer trace(reporter, Flag(c.TraceOn));
#ifdef KILN_OLDER_LAYOUT
  const auto* full = reinterpret_cast<const KilnParamsOlder*>(params);
  trace("Version", std::to_string(kKilnVersion) + " Layout=older");
  TraceCommon(c, trace);
  trace("Marker", full->Marker);
  int32_t count = c.SpecCount < 0 ? 0 : std::min<int32_t>(c.SpecCount, OLDER_LAYOUT_SPEC_SLOTS);
  std::vector<const char*> texts(full->SpecTexts, full->SpecTexts + count);
#else
  const auto* full = reinterpret_cast<const KilnParams*>(params);
  trace("Version", std::to_string(kKilnVersion) + " Layout=current");
  TraceCommon(c, trace);
  trace("TempDirText", Text(full->TempDirText));
  trace("Marker", full->Marker);
  int32_t count = c.SpecCount < 0 || !full->FileData ? 0 : c.SpecCount;
  std::vector<const char*> texts;
  for (int32_t i = 0; i < count; ++i) texts.push_back(full->FileData[i].Text);
#endif
  for (size_t i = 0; i < texts.size(); ++i) trace(("Spec[" + std::to_string(i) + "]").c_str(), Text(texts[i]));
  if (reporter.Cancelled()) return false;

  if (full->Marker != PARAMS_MARKER) {
    reporter.Message(kLibErrParams, "Parameter record: wrong marker " + std::to_string(full->Marker));
    return false;
  }
  if (c.SpecCount < 0 || (c.SpecCount > 0 && count == 0)) {
    reporter.Message(kLibErrParams, "Parameter record: no file names for a count of " +
                                        std::to_string(c.SpecCount));
    return false;
  }
  ReadCommon(c, request);
  for (const char* t : texts)
    if (t && *t) request.specs.emplace_back(t);
  if (request.archivePath.empty()) {
    reporter.Message(kLibErrParams, "Parameter record: no archive name");
    return false;
  }
  return true;
}

}  // namespace kiln
