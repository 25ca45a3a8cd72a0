#include "KilnHarness.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kilntest {

namespace {
thread_local const Options* currentOptions = nullptr;
thread_local Outcome* currentOutcome = nullptr;

int32_t Record(CallbackRecord* r) {
  const std::string text(r->Text, strnlen(r->Text, sizeof r->Text));
  currentOutcome->events.push_back({r->ActionCode, r->ErrorCode, r->FileSize64, text});
  return currentOptions->onCallback ? currentOptions->onCallback(*r) : 0;
}
}  // namespace

std::vector<std::string> Outcome::Errors() const {
  std::vector<std::string> out;
  for (auto& e : events)
    if (e.action == kActionMessage && e.code != 0) out.push_back(e.text);
  return out;
}

bool Outcome::HasError(int32_t code, const std::string& fragment) const {
  for (auto& e : events)
    if (e.action == kActionMessage && e.code == code && e.text.find(fragment) != std::string::npos) return true;
  return false;
}

Kiln::Kiln(const std::string& libraryPath) {
  handle_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error(dlerror());
  exec_ = reinterpret_cast<KilnExecFn>(dlsym(handle_, "KilnExec"));
  version_ = reinterpret_cast<GetKilnVersionFn>(dlsym(handle_, "GetKilnVersion"));
  setSeams_ = reinterpret_cast<KilnSetTestSeamsFn>(dlsym(handle_, "KilnSetTestSeams"));
  if (!exec_ || !version_ || !setSeams_) throw std::runtime_error("entry points missing");
}

Kiln::~Kiln() { dlclose(handle_); }

Outcome Kiln::Run(const std::string& archive, const std::vector<std::string>& specs, const Options& o) const {
  Outcome outcome;
  currentOptions = &o;
  currentOutcome = &outcome;
  std::deque<std::string> texts;  // their characters stay where they are as it grows
  auto text = [&](const std::string& s) { return texts.emplace_back(s).data(); };
  char password[PASSWORD_BUFFER_SIZE] = {};
  std::strncpy(password, o.password.c_str(), PASSWORD_BUFFER_SIZE - 1);
  auto flag = [](bool b) { return b ? LIBRARY_FLAG_TRUE : LIBRARY_FLAG_FALSE; };
  auto filled = [&](auto& p) -> auto& {
    std::memset(&p, 0, sizeof p);
    p.Marker = PARAMS_MARKER;
    KilnParamsCommon& c = p.Common;
    c.WindowHandle = o.attended ? 1 : 0;
    c.Caller = const_cast<Kiln*>(this);
    c.RecordVersion = KILN_RECORD_VERSION;
    c.CallbackProc = Record;
    c.TraceOn = flag(o.trace);
    c.PasswordText = password;
    c.EncryptOn = flag(o.encrypt);
    c.HiddenFilesOn = flag(o.hidden);
    c.NoDirEntriesOn = flag(o.noDirEntries);
    c.VerboseOn = flag(o.verbose);
    c.AlwaysOn = LIBRARY_FLAG_TRUE;
    c.Level = o.level;
    c.NoDirNamesOn = flag(o.noDirNames);
    c.RecurseOn = o.recurse ? static_cast<int16_t>(0xFFFF) : 0;
    c.AppendOn = flag(o.append);
    c.ForceDosOn = flag(o.forceDos);
    c.MoveOn = flag(o.move);
    c.DeleteOn = flag(o.deleteOn);
    c.UpdateOn = flag(o.update);
    c.FreshenOn = flag(o.freshen);
    c.ZipTimeOn = flag(o.zipTime);
    c.SpecCount = static_cast<int32_t>(specs.size());
    c.ArchivePath = text(archive);
    return p;
  };
  if (version_() >= KILN_CURRENT_LAYOUT_VERSION) {
    auto p = std::make_unique<KilnParams>();
    std::vector<KilnFileData> data(specs.size());
    for (size_t i = 0; i < specs.size(); ++i) data[i].Text = text(specs[i]);
    filled(*p).FileData = data.data();
    outcome.result = exec_(&p->Common);
  } else {
    auto p = std::make_unique<KilnParamsOlder>();
    filled(*p);
    for (size_t i = 0; i < specs.size(); ++i) p->SpecTexts[i] = text(specs[i]);
    outcome.result = exec_(&p->Common);
  }
  currentOptions = nullptr;
  currentOutcome = nullptr;
  return outcome;
}

KilnTestSeams Seams(int32_t heartbeatMs, int32_t lockWaitMs, int32_t named) {
  return {nullptr, nullptr, heartbeatMs, lockWaitMs, named};
}

int InChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::string CurrentLibrary() { return KILN_LIBRARY; }
std::string OlderLibrary() { return KILN_OLDER_LIBRARY; }

void SetTime(const std::string& path, long seconds) {
  struct utimbuf t{seconds, seconds};
  utime(path.c_str(), &t);
}

std::string TextBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* words[] = {"archive", "tessera", "deflate", "kiln", "entry", "folder", "the", "of",
                                "compress", "library", "header", "stream"};
  std::string out;
  while (out.size() < size) {
    out += words[rng() % 12];
    out += (rng() % 9 == 0) ? '\n' : ' ';
  }
  out.resize(size);
  return out;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(rng());
  return out;
}

std::set<std::string> Names(const std::string& archive) {
  std::set<std::string> names;
  std::istringstream lines(RunCommand("unzip -Z1 " + Quote(archive)).Output);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) names.insert(line);
  return names;
}

std::string Unzipped(const std::string& archive, const std::string& name) {
  return RunCommand("unzip -p " + Quote(archive) + " " + Quote(name)).Output;
}

std::string PeerComplaints(const std::string& archive) {
  std::string said;
  for (const char* peer : {"unzip -t ", "7zz t "}) {
    CommandResult c = RunCommand(peer + Quote(archive));
    if (c.Status != 0) said += c.Output;
  }
  return said;
}

std::string KeptVerbatim(const std::string& before, const std::string& after, const std::vector<std::string>& changed) {
  static const char* script = R"PY(
import struct, sys, zipfile
def entries(path):
    b, z = open(path, 'rb').read(), zipfile.ZipFile(path)
    ends, at, found = sorted(i.header_offset for i in z.infolist()) + [z.start_dir], z.start_dir, {}
    for i in z.infolist():
        n, x, c = struct.unpack('<HHH', b[at + 28:at + 34])
        record = bytearray(b[at:at + 46 + n + x + c])
        record[42:46] = bytes(4)
        at += len(record)
        found[bytes(record[46:46 + n])] = (bytes(record), b[i.header_offset:ends[ends.index(i.header_offset) + 1]])
    return z, found
(o, old), (z, new) = entries(sys.argv[1]), entries(sys.argv[2])
print(' '.join(sorted(k.decode('latin-1') for k in set(old) - set(new))))
bad = [k for k in new if k in old and k.decode('latin-1') not in sys.argv[3:] and new[k] != old[k]]
print('OK' if not bad and z.testzip() is None and z.comment == o.comment else bad)
)PY";
  std::vector<std::string> args{before, after};
  args.insert(args.end(), changed.begin(), changed.end());
  return Python(script, args);
}

std::string PythonCompare(const std::string& archive, const std::filesystem::path& base, const std::string& password) {
  static const char* script = R"PY(
import os, stat, sys, zipfile
z, bad = zipfile.ZipFile(sys.argv[1]), []
if sys.argv[3]: z.setpassword(sys.argv[3].encode())
for i in z.infolist():
    path, data = os.path.join(sys.argv[2], i.filename), z.read(i)
    if i.is_dir(): same = os.path.isdir(path)
    elif stat.S_ISLNK(i.external_attr >> 16): same = os.readlink(path).encode() == data
    else: same = open(path, 'rb').read() == data
    if not same: bad.append(i.filename)
print('OK' if not bad else ' '.join(bad))
)PY";
  return Python(script, {archive, base.string(), password});
}

}  // namespace kilntest
