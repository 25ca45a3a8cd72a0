// Add, extract, test and delete through the real compression libraries, loaded the way
// the program loads them.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "MarlinLibraries.h"
#include "MarlinOp.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string kOlderLibDir = TESSERA_OLDER_LIB_DIR;
const std::string kTestLibDir = TESSERA_TEST_LIB_DIR;

// A small tree: text, bytes that do not compress, an empty file, a subfolder.
void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub/deeper");
  std::mt19937 random(7);
  std::string noise;
  for (uint32_t i = 0; i < 300000; ++i) noise += char(random());
  WriteFile((root / "noise.bin").string(), noise);
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of the text\n";
  WriteFile((root / "sub/text.txt").string(), text);
  WriteFile((root / "sub/deeper/empty").string(), "");
}

void ExpectSameTree(const fs::path& a, const fs::path& b) {
  for (const auto& e : fs::recursive_directory_iterator(a)) {
    const fs::path other = b / fs::relative(e.path(), a);
    ASSERT_TRUE(fs::exists(other)) << other;
    if (e.is_regular_file()) {
      EXPECT_EQ(ReadFile(e.path().string()), ReadFile(other.string())) << other;
    }
  }
}

}  // namespace

// First in this program: a library that was ever loaded may stay resident, and the
// loader then finds it by its bare name without searching.
TEST(Libraries, MissingLibraryOrEntryPoints) {
  TempDir dir;
  ASSERT_EQ(RunCommand("echo x > f && zip -q real.zip f", dir.Path().string()).Status, 0);
  {
    // No library in the folder and none on this program's search path.
    Op op(dir.Path().string());
    EXPECT_EQ(op.m.KilnVersion(), 0);
    EXPECT_EQ(op.m.LastMessage(), "KILN.DLL not found!");
    op.Add(dir / "a.zip", {"x"});
    EXPECT_EQ(op.m.LastErrCode(), 10604);
    EXPECT_FALSE(op.m.KilnBusy());
    op.m.SetZipFilename(dir / "real.zip");
    op.m.Extract();
    EXPECT_EQ(op.m.LastErrCode(), 10704);
    EXPECT_FALSE(op.m.SluiceBusy());
  }
  {
    Op op(kTestLibDir + "/NoEntryPoints");
    EXPECT_EQ(op.m.SluiceVersion(), 0);
    EXPECT_TRUE(op.Said(0, "SluiceExec function not found in SLUICE.DLL!"));
    EXPECT_TRUE(op.Said(0, "GetSluiceVersion function not found in SLUICE.DLL!"));
  }
  {
    Op op(kTestLibDir + "/VersionOnly");
    op.m.SetTrace(true);
    op.m.SetFSpecArgs({"f"});
    op.m.SetZipFilename(dir / "real.zip");
    op.m.Delete();
    EXPECT_TRUE(op.Said(0, "KILN Loaded")) << op.Log();
    EXPECT_TRUE(op.Said(0, "KilnExec function not found in KILN.DLL!"));
    EXPECT_FALSE(op.Said(0, "GetKilnVersion function not found"));
    EXPECT_EQ(op.m.SuccessCount(), 0);
    EXPECT_FALSE(op.m.KilnBusy());
    EXPECT_EQ(op.m.KilnVersion(), 0);  // unusable without both
  }
  Op op;
  EXPECT_EQ(op.m.KilnVersion(), 154);
  EXPECT_EQ(op.m.SluiceVersion(), 154);
}

TEST(Operations, AddListTestExtractDeleteRoundTrip) {
  TempDir dir;
  MakeTree(dir.Path() / "tree");
  Op op;
  fs::current_path(dir.Path());
  op.m.SetAddCompLevel(6);
  // Handlers run inside the library's call: a second add is turned away without a word.
  int nested = 0;
  op.m.OnProgress = [&](TMarlin* m, ProgressType t, const std::string&, int64_t) {
    if (t != ProgressType::ProgrNewFile || nested++) return;
    const size_t before = op.messages.size();
    m->SetFSpecArgs({"tree"});
    m->Add();
    EXPECT_EQ(op.messages.size(), before);
  };
  op.Add("out.zip", {"tree"});
  op.m.OnProgress = nullptr;
  EXPECT_GT(nested, 0);
  ASSERT_EQ(op.m.SuccessCount(), 3) << op.Log();
  EXPECT_TRUE(op.m.FSpecArgs().empty());
  const std::vector<std::string> names = EntryNamesOf(op.m);
  EXPECT_TRUE(std::find(names.begin(), names.end(), "tree/sub/text.txt") != names.end()) << op.Log();

  // A relative archive name still works once the library runs in the extract folder.
  fs::create_directory(dir.Path() / "x");
  op.m.SetExtrOptions({ExtrOptsEnum::ExtrDirNames});
  op.m.SetExtrBaseDir((dir.Path() / "x").string());
  op.m.Extract();
  EXPECT_GE(op.m.SuccessCount(), 3) << op.Log();
  ExpectSameTree(dir.Path() / "tree", dir.Path() / "x/tree");

  // A folder that is missing is made.
  op.m.SetZipFilename(dir / "out.zip");
  op.m.SetExtrBaseDir((dir.Path() / "new/deeper").string());
  op.m.Extract();
  EXPECT_GE(op.m.SuccessCount(), 3) << op.Log();
  ExpectSameTree(dir.Path() / "tree", dir.Path() / "new/deeper/tree");

  // Nothing matches: no count, the listing stays as it was.
  const std::string before = ReadFile(dir / "out.zip");
  op.m.SetFSpecArgs({"no/such/entry"});
  op.m.Delete();
  EXPECT_EQ(op.m.SuccessCount(), 0);
  EXPECT_EQ(EntryNamesOf(op.m), names);
  EXPECT_EQ(ReadFile(dir / "out.zip"), before);
  op.m.SetFSpecArgs({"tree/noise.bin"});
  op.m.Delete();
  EXPECT_EQ(op.m.SuccessCount(), 1) << op.Log();
  EXPECT_EQ(EntryNamesOf(op.m).size(), names.size() - 1);

  // A cancel ends with the add it stopped, not later.
  const std::string kept = ReadFile(dir / "out.zip");
  op.m.OnProgress = [](TMarlin* m, ProgressType t, const std::string&, int64_t) {
    if (t == ProgressType::ProgrUpdate) m->SetCancelRequested(true);
  };
  op.Add("out.zip", {"tree"});
  EXPECT_EQ(op.m.SuccessCount(), 0) << op.Log();
  EXPECT_FALSE(op.m.CancelRequested());
  EXPECT_EQ(ReadFile(dir / "out.zip"), kept);
}

// Every field reaches both layouts as set, for add, delete and extract.
class Layouts : public ::testing::TestWithParam<bool> {};

TEST_P(Layouts, EveryFieldArrives) {
  const bool older = GetParam();
  TempDir dir;
  Op op(older ? kOlderLibDir : kLibDir);
  op.m.SetUnattended(false);
  op.m.SetTrace(true);
  op.m.SetAddCompLevel(3);
  op.m.SetTempDir(dir / "tmp");
  op.m.SetPassword(std::string(78, 'p') + "\xc3\xa9");  // all 80 bytes of the field
  op.Add(dir / "t.zip", {"nothing-*.none", "also-nothing"},
         {AddOptsEnum::AddRecurseDirs, AddOptsEnum::AddUpdate, AddOptsEnum::AddFreshen, AddOptsEnum::AddZipTime,
          AddOptsEnum::AddHiddenFiles, AddOptsEnum::AddEncrypt, AddOptsEnum::AddForceDOS});
  std::map<std::string, std::string> t = op.Trace();
  const std::string layout = older ? "older" : "current";
  EXPECT_EQ(t["Version"], (older ? "150" : "154") + (" Layout=" + layout)) << op.Log();
  std::map<std::string, std::string> want{
      {"WindowHandle", "1"},   {"RecordVersion", "154"}, {"TraceOn", "-1"},      {"PasswordText", "80"},
      {"EncryptOn", "-1"},     {"HiddenFilesOn", "-1"},  {"NoDirEntriesOn", "-1"}, {"VerboseOn", "-1"},
      {"AlwaysOn", "-1"},      {"Level", "3"},           {"NoDirNamesOn", "-1"}, {"RecurseOn", "-1"},
      {"AppendOn", "-1"},      {"ForceDosOn", "-1"},     {"MoveOn", "0"},        {"DeleteOn", "0"},
      {"UpdateOn", "-1"},      {"FreshenOn", "0"},       {"ZipTimeOn", "-1"},    {"SpecCount", "2"},
      {"ArchivePath", dir / "t.zip"}, {"Marker", "7"}, {"Spec[0]", "nothing-*.none"}, {"Spec[1]", "also-nothing"}};
  if (!older) want["TempDirText"] = dir / "tmp";
  for (const auto& [field, value] : want) EXPECT_EQ(t[field], value) << field << "\n" << op.Log();
  if (older) EXPECT_EQ(t.count("TempDirText"), 0u);

  // Delete clears what only adding means; the rest stays as for add.
  ASSERT_EQ(RunCommand("rm -f t.zip && echo x > f && zip -q t.zip f", dir.Path().string()).Status, 0);
  op.messages.clear();
  op.m.SetFSpecArgs({"f"});
  op.m.Delete();
  t = op.Trace();
  for (const auto& [field, value] : std::map<std::string, std::string>{
           {"EncryptOn", "0"}, {"NoDirNamesOn", "0"}, {"RecurseOn", "0"}, {"AppendOn", "0"}, {"MoveOn", "0"},
           {"DeleteOn", "-1"}, {"UpdateOn", "0"}, {"FreshenOn", "0"}, {"HiddenFilesOn", "-1"}, {"ZipTimeOn", "-1"},
           {"ForceDosOn", "-1"}, {"Level", "3"}, {"SpecCount", "1"}, {"Spec[0]", "f"}})
    EXPECT_EQ(t[field], value) << field << "\n" << op.Log();
  EXPECT_EQ(op.m.SuccessCount(), 1) << op.Log();

  ASSERT_EQ(RunCommand("zip -q t.zip f", dir.Path().string()).Status, 0);
  op.messages.clear();
  op.m.SetUnattended(true);
  op.m.SetPassword("");
  op.m.SetExtrOptions({ExtrOptsEnum::ExtrTest, ExtrOptsEnum::ExtrUpdate, ExtrOptsEnum::ExtrFreshen,
                       ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite});
  op.m.SetAddOptions({});
  op.m.Extract();
  t = op.Trace();
  EXPECT_EQ(t["Version"], (older ? "151" : "154") + (" Layout=" + layout)) << op.Log();
  for (const auto& [field, value] : std::map<std::string, std::string>{
           {"WindowHandle", "0"}, {"RecordVersion", "152"}, {"TraceOn", "-1"}, {"PasswordText", "0"},
           {"TestOn", "-1"}, {"AlwaysOn", "-1"}, {"VerboseOn", "-1"}, {"UpdateOn", "-1"}, {"FreshenOn", "0"},
           {"DirNamesOn", "-1"}, {"OverwriteOn", "-1"}, {"SpecCount", "0"}, {"ArchivePath", dir / "t.zip"},
           {"Marker", "7"}})
    EXPECT_EQ(t[field], value) << field << "\n" << op.Log();
  EXPECT_EQ(op.m.SuccessCount(), 1) << op.Log();

  // The older layouts hold 4097 specifications; more are refused before the call.
  std::vector<std::string> many(4098, "x");
  for (int kind = 0; kind < 2; ++kind) {
    op.messages.clear();
    op.m.SetFSpecArgs(many);
    if (kind == 0) op.m.Delete();
    else op.m.Extract();
    EXPECT_EQ(op.Trace().empty(), older) << op.Log();
    EXPECT_EQ(op.m.LastErrCode() == (kind == 0 ? 10605 : 10705), older) << op.Log();
    EXPECT_EQ(op.m.FSpecArgs().size(), older ? 4098u : 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(CurrentAndOlder, Layouts, ::testing::Bool());

TEST(Libraries, CallbackEffects) {
  Op op;
  std::vector<std::tuple<ProgressType, std::string, int64_t>> progress;
  op.m.OnProgress = [&](TMarlin*, ProgressType t, const std::string& name, int64_t size) {
    progress.emplace_back(t, name, size);
  };
  CallbackRecord r{};
  r.Caller = &op.m;
  auto call = [&](int action, int code, int64_t size, const std::string& text) {
    r.ActionCode = action;
    r.ErrorCode = code;
    r.FileSize64 = size;
    r.FileSize = int32_t(std::min<int64_t>(size, INT32_MAX));
    std::memset(r.Text, 0, sizeof r.Text);
    std::memcpy(r.Text, text.data(), std::min(text.size(), sizeof r.Text));
    return TMarlin::DllCallback(&r);
  };
  EXPECT_EQ(call(kActionMessage, 0x1234, 0, "a/b.txt: CRC error \r\n"), 0);
  EXPECT_EQ(op.m.LastErrCode(), 0x34);
  EXPECT_EQ(op.m.LastLibErrCode(), 0x1234);
  EXPECT_EQ(op.messages.back(), std::make_pair(0x1234, std::string("a/b.txt: CRC error")));
  call(kActionMessage, 0, 0, "information");
  EXPECT_EQ(op.m.LastMessage(), "information");
  EXPECT_EQ(op.m.LastErrCode(), 0x34);
  EXPECT_EQ(op.messages.back().first, 0);

  call(kActionTotalSize, 0, 6LL << 30, "");
  EXPECT_EQ(op.m.BatchTotalSize(), 6LL << 30);
  call(kActionNewFile, 0, 5LL << 30, "dir/big.iso");
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress[1], std::make_tuple(ProgressType::ProgrNewFile, std::string("dir/big.iso"), 5LL << 30));
  std::string full(CALLBACK_TEXT_SIZE, 'n');  // no terminator: read no further
  call(kActionNewFile, 0, 1, full);
  EXPECT_EQ(std::get<1>(progress.back()), full);
  EXPECT_GT(op.ui.ProcessEventsCalls, 0);

  // Passwords: asked when attended, never unattended; one longer than the field's 80 bytes
  // is refused rather than cut to a password nobody typed.
  op.m.SetUnattended(false);
  op.ui.TextAnswers = {std::string(78, 'a') + "\xc3\xa9", std::string(79, 'a') + "\xc3\xa9"};
  std::vector<std::string> released;  // the answers, once handed on: wiped
  marlinlib::TextReleasedHook = [&](const char* text, size_t size) { released.emplace_back(text, size); };
  EXPECT_EQ(call(kActionPassword, 0, 0, "secret.txt"), 0);
  EXPECT_EQ(std::string(r.Text), std::string(78, 'a') + "\xc3\xa9");
  EXPECT_NE(op.ui.TextPrompts.back().find("secret.txt"), std::string::npos);
  EXPECT_EQ(call(kActionPassword, 0, 0, "secret.txt"), -1);
  EXPECT_EQ(std::string(r.Text), "secret.txt");
  EXPECT_EQ(op.m.LastErrCode(), 10106);
  EXPECT_EQ(call(kActionPassword, 0, 0, "secret.txt"), -1);  // no answer: cancelled
  marlinlib::TextReleasedHook = nullptr;
  EXPECT_EQ(released, (std::vector<std::string>{std::string(80, '\0'), std::string(81, '\0')}));
  op.m.SetUnattended(true);
  const size_t asked = op.ui.TextPrompts.size();
  EXPECT_EQ(call(kActionPassword, 0, 0, "secret.txt"), 0);
  EXPECT_EQ(std::string(r.Text), "secret.txt");
  EXPECT_EQ(op.ui.TextPrompts.size(), asked);

  op.m.SetCancelRequested(true);
  EXPECT_EQ(call(kActionProgress, 0, 1, ""), -1);
  op.m.SetCancelRequested(false);
  // A handler's exception does not run through the library: the library is told to stop.
  op.m.OnProgress = [](TMarlin*, ProgressType, const std::string&, int64_t) { throw std::runtime_error("x"); };
  EXPECT_EQ(call(kActionProgress, 0, 1, ""), -1);
}

// 81 bytes: neither an add that encrypts nor an extract or test goes on with 80 of them.
TEST(Operations, PasswordLongerThanTheFieldIsRefusedNotCut) {
  TempDir dir;
  const std::string password(81, 'p');
  ASSERT_EQ(RunCommand("echo hidden > s.txt && zip -q -P " + password + " enc.zip s.txt", dir.Path().string()).Status, 0);
  Op op;
  op.m.SetPassword(password);
  op.m.SetZipFilename(dir / "enc.zip");
  op.m.SetExtrOptions({ExtrOptsEnum::ExtrTest});
  op.m.Extract();
  EXPECT_EQ(op.m.SuccessCount(), 0);
  EXPECT_EQ(op.m.LastErrCode(), 10106) << op.Log();
  op.Add(dir / "new.zip", {dir / "s.txt"}, {AddOptsEnum::AddEncrypt});
  EXPECT_EQ(op.m.SuccessCount(), 0);
  EXPECT_EQ(op.m.LastErrCode(), 10106) << op.Log();
  EXPECT_FALSE(fs::exists(dir / "new.zip"));
}

// Texts handed to a library are wiped before their memory is freed: no password stays
// behind there, after an add or an extract.
TEST(Libraries, PasswordsWipedWhenTheirBufferIsReleased) {
  TempDir dir;
  WriteFile(dir / "s.txt", "hidden");
  const std::string password = "Tr0ub4dor&3 correct horse";
  std::vector<std::string> released;
  marlinlib::TextReleasedHook = [&](const char* text, size_t size) { released.emplace_back(text, size); };
  Op op;
  fs::current_path(dir.Path());
  op.m.SetPassword(password);
  op.Add("a.zip", {"s.txt"}, {AddOptsEnum::AddEncrypt});
  const int added = op.m.SuccessCount();
  op.m.SetExtrOptions({ExtrOptsEnum::ExtrTest});
  op.m.Extract();
  marlinlib::TextReleasedHook = nullptr;
  EXPECT_EQ(added, 1) << op.Log();
  EXPECT_EQ(op.m.SuccessCount(), 1) << op.Log();  // the password reached the library each time

  int passwordBuffers = 0;
  for (const std::string& text : released) {
    EXPECT_EQ(text.find("Tr0ub4dor"), std::string::npos);
    if (text.size() == PASSWORD_BUFFER_SIZE) {
      ++passwordBuffers;
      EXPECT_EQ(text, std::string(PASSWORD_BUFFER_SIZE, '\0'));
    }
  }
  EXPECT_EQ(passwordBuffers, 2);
}

// Unattended without a password: a filler for this call only; the property stays empty,
// so no later add encrypts with it.
TEST(Operations, UnattendedExtractFillsInAPasswordForThatCallOnly) {
  TempDir dir;
  ASSERT_EQ(RunCommand("echo plain > p.txt && echo hidden > s.txt && zip -q a.zip p.txt && "
                       "zip -q -P secret a.zip s.txt", dir.Path().string()).Status, 0);
  Op op;
  op.m.SetAddOptions({AddOptsEnum::AddEncrypt});
  op.m.SetZipFilename(dir / "a.zip");
  op.m.SetExtrOptions({ExtrOptsEnum::ExtrTest});
  op.m.Extract();
  EXPECT_TRUE(op.Said(0, "Warning - Unattended Extract")) << op.Log();
  EXPECT_EQ(op.m.SuccessCount(), 1) << op.Log();
  EXPECT_EQ(op.m.LastLibErrCode(), kLibErrPassword) << op.Log();
  EXPECT_TRUE(op.m.Password().empty());
  op.m.SetFSpecArgs({dir / "p.txt"});
  op.m.Add();
  EXPECT_EQ(op.m.LastErrCode(), 10302);
}

TEST(Operations, SelfExtractingArchiveStaysARunningProgram) {
  TempDir dir;
  MakeTree(dir.Path() / "tree");
  Op op;
  op.m.SetSFXPath(TESSERA_STUB);
  fs::current_path(dir.Path());
  op.Add("new.exe", {"tree"});
  ASSERT_EQ(op.m.SuccessCount(), 3) << op.Log();
  EXPECT_GT(op.m.PrefixSize(), 0u);
  EXPECT_FALSE(op.Said(0, "Warning")) << op.Log();
  EXPECT_EQ(ReadFile(dir / "new.exe").substr(0, 4096), ReadFile(TESSERA_STUB).substr(0, 4096));

  op.m.SetFSpecArgs({"tree/noise.bin"});
  op.m.Delete();
  ASSERT_EQ(op.m.SuccessCount(), 1) << op.Log();
  EXPECT_FALSE(op.Said(0, "Warning")) << op.Log();
  const CommandResult run = RunCommand("./new.exe --dir out --yes </dev/null", dir.Path().string());
  ASSERT_EQ(run.Status, 0) << run.Output;
  EXPECT_EQ(ReadFile(dir / "out/tree/sub/text.txt"), ReadFile(dir / "tree/sub/text.txt"));
  EXPECT_FALSE(fs::exists(dir.Path() / "out/tree/noise.bin"));

  // Every entry deleted: still the program, an empty archive (no structure warning) to us,
  // to peers and to itself, and one to add to.
  const uint64_t prefix = op.m.PrefixSize();
  op.m.SetFSpecArgs({"*"});
  op.m.Delete();
  EXPECT_EQ(op.m.EntryCount(), 0) << op.Log();
  EXPECT_EQ(op.m.PrefixSize(), prefix);
  EXPECT_FALSE(op.Said(0, "Warning")) << op.Log();
  EXPECT_EQ(RunCommand("7zz t new.exe && ./new.exe --test", dir.Path().string()).Status, 0);
  op.Add("new.exe", {"tree/sub"});
  EXPECT_EQ(op.m.SuccessCount(), 2) << op.Log();
  EXPECT_EQ(op.m.PrefixSize(), prefix);
  EXPECT_EQ(RunCommand("./new.exe --test", dir.Path().string()).Status, 0);
}

TEST(Operations, SpannedAddAndExtractFromTheLastVolume) {
  TempDir dir;
  MakeTree(dir.Path() / "tree");
  fs::create_directories(dir.Path() / "tmp");
  fs::create_directories(dir.Path() / "set");
  Op op;
  fs::current_path(dir.Path());
  op.m.SetTempDir(dir / "tmp");
  op.m.SetMaxVolumeSize(100000);
  op.m.SetAddCompLevel(1);
  op.Add(dir / "set/s.zip", {"tree"},
         {AddOptsEnum::AddDirNames, AddOptsEnum::AddRecurseDirs, AddOptsEnum::AddDiskSpan});
  ASSERT_EQ(op.m.SuccessCount(), 3) << op.Log();
  EXPECT_EQ(op.m.TempDir(), dir / "tmp/");
  EXPECT_TRUE(fs::is_empty(dir.Path() / "tmp"));
  std::vector<std::string> volumes;
  for (const auto& e : fs::directory_iterator(dir.Path() / "set")) volumes.push_back(e.path().string());
  std::sort(volumes.begin(), volumes.end());
  ASSERT_GE(volumes.size(), 3u);

  // Update and freshen have no set to compare with: refused before the library runs or
  // any volume is touched, though there is something new to add.
  std::map<std::string, std::string> written;
  for (const std::string& v : volumes) written[v] = ReadFile(v);
  WriteFile(dir / "tree/new.txt", "new");
  int reports = 0;
  op.m.OnProgress = [&](TMarlin*, ProgressType, const std::string&, int64_t) { ++reports; };
  for (AddOptsEnum refused : {AddOptsEnum::AddUpdate, AddOptsEnum::AddFreshen}) {
    op.Add(dir / "set/s.zip", {"tree"}, {AddOptsEnum::AddRecurseDirs, AddOptsEnum::AddDiskSpan, refused});
    EXPECT_EQ(op.m.LastErrCode(), 10303) << op.Log();
  }
  EXPECT_EQ(reports, 0);
  for (const auto& [v, bytes] : written) EXPECT_EQ(ReadFile(v), bytes) << v;
  EXPECT_EQ(NamesIn(dir.Path() / "set").size(), volumes.size());
  EXPECT_TRUE(fs::is_empty(dir.Path() / "tmp"));
  fs::remove(dir / "tree/new.txt");
  op.m.SetFSpecArgs({});  // kept by the refusals, as by any add that never ran

  op.m.SetZipFilename(volumes.back());
  EXPECT_GT(op.m.LastDiskNo(), 0);
  fs::create_directories(dir.Path() / "out");
  op.m.SetExtrBaseDir(dir / "out");
  op.m.SetExtrOptions({ExtrOptsEnum::ExtrDirNames});
  // The join clears the busy flag when it ends; the extract that follows must hold it
  // again, or a second extract could start inside the library's callback.
  int events = 0, reentered = 0;
  op.m.OnProgress = [&](TMarlin* m, ProgressType t, const std::string&, int64_t) {
    if (t != ProgressType::ProgrNewFile) return;
    ++events;
    const size_t before = op.messages.size();
    if (!m->SluiceBusy()) ++reentered;
    m->Extract();
    EXPECT_EQ(op.messages.size(), before);
  };
  op.m.Extract();
  op.m.OnProgress = nullptr;
  EXPECT_GT(events, 0);
  EXPECT_EQ(reentered, 0);
  EXPECT_GE(op.m.SuccessCount(), 3) << op.Log();
  ExpectSameTree(dir.Path() / "tree", dir.Path() / "out/tree");
  EXPECT_TRUE(fs::is_empty(dir.Path() / "tmp"));  // the joined copy is gone

  // So it is when the extract fails after the join: nothing matches, the older library
  // cannot take so many specifications, or the extract folder cannot be made.
  op.m.SetFSpecArgs({"no/such/entry"});
  op.m.Extract();
  EXPECT_EQ(op.m.SuccessCount(), 0);
  EXPECT_TRUE(fs::is_empty(dir.Path() / "tmp")) << op.Log();
  op.m.SetDLLDirectory(kOlderLibDir);
  op.m.SetFSpecArgs(std::vector<std::string>(4098, "x"));
  op.m.Extract();
  EXPECT_EQ(op.m.LastErrCode(), 10705) << op.Log();
  EXPECT_TRUE(fs::is_empty(dir.Path() / "tmp"));
  op.m.SetDLLDirectory(kLibDir);
  op.m.SetFSpecArgs({});
  op.m.SetExtrBaseDir(dir / "tree/noise.bin/out");  // below a file
  op.m.Extract();
  EXPECT_EQ(op.m.LastErrCode(), 10503) << op.Log();
  EXPECT_TRUE(fs::is_empty(dir.Path() / "tmp"));

  // The volumes cannot be written (the set's name is a folder): moved files are not
  // lost with the temporary archive; without moving, nothing is left behind.
  fs::current_path(dir.Path());
  for (bool move : {false, true}) {
    op.messages.clear();
    AddOpts options{AddOptsEnum::AddDirNames, AddOptsEnum::AddRecurseDirs, AddOptsEnum::AddDiskSpan};
    if (move) options.Include(AddOptsEnum::AddMove);
    op.Add(dir / "set", {"tree/sub"}, options);
    EXPECT_EQ(op.m.SuccessCount(), 0);
    EXPECT_EQ(fs::exists(dir.Path() / "tree/sub/text.txt"), !move);
    EXPECT_EQ(fs::is_empty(dir.Path() / "tmp"), !move) << op.Log();
    if (move) {
      EXPECT_EQ(op.m.LastErrCode(), 10304) << op.Log();
      const fs::path kept = *fs::directory_iterator(dir.Path() / "tmp");
      EXPECT_NE(op.m.LastMessage().find(kept.string()), std::string::npos);
      const CommandResult list = RunCommand("unzip -l " + Quote(kept.string()));
      EXPECT_NE(list.Output.find("tree/sub/text.txt"), std::string::npos) << list.Output;
    }
  }
}
