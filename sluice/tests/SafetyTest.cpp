// Hostile and damaged archives: nothing is written outside the extract folder, no partial
// file is left, and nothing crashes.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <random>
#include <set>

#include "EntryPaths.h"
#include "SluiceHarness.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string kLib = SLUICE_LIBRARY;

// Writes a ZIP byte by byte from a list of entries: name, data (repeated), method (0 or 8)
// and Unix mode.
const char* kCraft = R"PY(
import json, struct, sys, zlib
entries = json.loads(sys.argv[2])
zip64 = 'zip64' in sys.argv[3:]  # Zip64 sizes, offsets and end records
prefix = b'#!junk\n' * 100 if 'prefix' in sys.argv[3:] else b''  # offsets left unadjusted
out, central = b'', b''
for e in entries:
    data = e['data'].encode() * e.get('repeat', 1)
    crc = zlib.crc32(data)
    packed = data
    if e.get('method', 0) == 8:
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = c.compress(data) + c.flush()
    size, name, offset = len(data), e['name'].encode(), len(out)
    out += struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, e.get('method', 0), 0, 0x5021,
                       crc, len(packed), size, len(name), 0) + name + packed
    if zip64:
        extra = struct.pack('<HHQQQ', 1, 24, size, len(packed), offset)
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 0x032D, 45, 0, e.get('method', 0), 0, 0x5021,
                               crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra), 0, 0, 0,
                               e.get('mode', 0o100644) << 16, 0xFFFFFFFF) + name + extra
    else:
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 0x0314, 20, 0, e.get('method', 0), 0, 0x5021,
                               crc, len(packed), size, len(name), 0, 0, 0, 0, e.get('mode', 0o100644) << 16,
                               offset) + name
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
if zip64:
    at = len(out) + len(central)
    end = (struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, len(entries), len(entries), len(central),
                       len(out)) + struct.pack('<IIQI', 0x07064B50, 0, at, 1) +
           struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))
open(sys.argv[1], 'wb').write(prefix + out + central + end)
)PY";

std::string Craft(const TempDir& dir, const std::string& name, const std::string& json,
                  const std::vector<std::string>& options = {}) {
  std::vector<std::string> args{dir / name, json};
  args.insert(args.end(), options.begin(), options.end());
  Python(kCraft, args);
  return dir / name;
}

std::set<std::string> Listing(const fs::path& root) {
  std::set<std::string> names;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    names.insert(it->path().lexically_relative(root).string());
  return names;
}

TEST(Safety, EntryNameAndLinkRules) {
  std::vector<std::string> parts;
  EXPECT_TRUE(entrypaths::SplitEntryName("a/./b\\c/", parts));
  EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "c"}));
  for (const char* bad : {"/etc/x", "\\x", "a/../../x", "a\\..\\x", "..", "C:x", "c:\\x", ""})
    EXPECT_FALSE(entrypaths::SplitEntryName(bad, parts)) << bad;
  const std::vector<std::string> link{"a", "b", "link"};
  for (const char* inside : {"x", "../x", "../../x/y", ".", "./x"})
    EXPECT_TRUE(entrypaths::LinkTargetInside(link, inside)) << inside;
  // Only leading ".." climbs: "x/.." could climb through a link named x.
  for (const char* outside : {"/x", "../../..", "../../../x", "x/../..", "x/..", ""})
    EXPECT_FALSE(entrypaths::LinkTargetInside(link, outside)) << outside;
}

TEST(Safety, HostileNamesAndLinksStayInside) {
  TempDir tmp;
  const std::string target = tmp / "t";
  fs::create_directories(target);
  fs::create_directories(tmp / "outside");
  fs::create_directory_symlink(tmp / "outside", target + "/pre");  // a link the user had
  const std::string zip = Craft(tmp, "evil.zip", R"([
    {"name": "../evil1", "data": "x"},
    {"name": ")" + tmp / "abs-evil" + R"(", "data": "x"},
    {"name": "..\\evil2", "data": "x"},
    {"name": "sub\\..\\..\\evil3", "data": "x"},
    {"name": "C:evil4", "data": "x"},
    {"name": "pre/evil5", "data": "x"},
    {"name": "out", "data": ")" + tmp / "outside" + R"(", "mode": 41471},
    {"name": "up", "data": "..", "mode": 41471},
    {"name": "sub/sneak", "data": "x/../..", "mode": 41471},
    {"name": "good.txt", "data": "good"},
    {"name": "sub/inlink", "data": "../good.txt", "mode": 41471},
    {"name": "up/evil6", "data": "x"},
    {"name": "setuid", "data": "x", "mode": 36333}
  ])");
  const std::set<std::string> before = Listing(tmp.Path());
  const Outcome o = Sluice(kLib).Run({.archive = zip, .overwrite = true}, target);
  EXPECT_EQ(o.count, 4) << o.AllMessages();  // good.txt, sub/inlink, up/evil6 in a real folder, setuid
  EXPECT_EQ(ReadFile(target + "/good.txt"), "good");
  EXPECT_EQ(ReadFile(target + "/sub/inlink"), "good");
  EXPECT_EQ(fs::read_symlink(target + "/sub/inlink"), "../good.txt");
  EXPECT_EQ(fs::status(target + "/setuid").permissions(), fs::perms(0755));  // no set-id bits
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(target + "/up")));
  for (const char* name : {"../evil1", "abs-evil", "../evil2", "evil3", "C:evil4"})
    EXPECT_TRUE(o.HasMessage(kLibErrUnsafeName, name)) << name << "\n" << o.AllMessages();
  EXPECT_TRUE(o.HasMessage(kLibErrUnsafeName, "pre/evil5: refused"));
  EXPECT_TRUE(o.HasMessage(kLibErrUnsafeName, "out: refused: the link points outside"));
  EXPECT_TRUE(o.HasMessage(kLibErrUnsafeName, "sub/sneak: refused"));
  // The only change outside the target: none.
  std::set<std::string> after = Listing(tmp.Path());
  std::erase_if(after, [](const std::string& n) { return n.rfind("t/", 0) == 0; });
  std::set<std::string> was = before;
  std::erase_if(was, [](const std::string& n) { return n.rfind("t/", 0) == 0; });
  EXPECT_EQ(after, was);
  EXPECT_TRUE(fs::is_empty(tmp / "outside"));
}

TEST(Safety, WriteFailuresLeaveNoPartialFile) {
  TempDir tmp;
  const std::string zip = Craft(tmp, "a.zip", R"([
    {"name": "big.txt", "data": "big data ", "repeat": 400000, "method": 8},
    {"name": "small.txt", "data": "small"},
    {"name": "blocked/inner.txt", "data": "x"}
  ])");
  const std::string out = tmp / "out";
  fs::create_directories(out);
  WriteFile(out + "/blocked", "a file where a folder would go");
  // The file size limit stands for a full disk, in a child so that it binds nothing else.
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Outcome o = Sluice(kLib).Run({.archive = zip}, out);
    const bool written = o.HasMessage(kLibErrWrite, "big.txt: write error") ||
                         o.HasMessage(kLibErrDiskFull, "big.txt: write error");
    const bool blocked = o.HasMessage(kLibErrUnsafeName, "blocked/inner.txt: refused");
    ::_exit(o.count * 4 + (written ? 2 : 0) + (blocked ? 1 : 0));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1 * 4 + 2 + 1);
  EXPECT_EQ(Listing(out), (std::set<std::string>{"blocked", "small.txt"}));
}

// Archives behind a prefix, their offsets left as they were or adjusted (zip -A), with Zip64
// records, and an encrypted entry, which goes through libzip: it needs the offsets shown right.
TEST(Safety, ArchivesBehindAPrefixAndZip64Records) {
  TempDir tmp;
  const std::string json = R"([
    {"name": "a/one.txt", "data": "one ", "repeat": 1000, "method": 8},
    {"name": "two.txt", "data": "two"}
  ])";
  ASSERT_EQ(RunCommand("unzip -tq " + Quote(Craft(tmp, "zip64.zip", json, {"zip64"}))).Status, 0);
  ASSERT_EQ(RunCommand("unzip -tq " + Quote(Craft(tmp, "zip64-prefix.zip", json, {"zip64", "prefix"}))).Status, 1);
  const std::string plain = ReadFile(Craft(tmp, "plain.zip", json)), junk(5000, 'j');
  WriteFile(tmp / "prefix.zip", junk + plain);
  WriteFile(tmp / "adjusted.zip", junk + plain);
  ASSERT_EQ(RunCommand("zip -qA " + Quote(tmp / "adjusted.zip")).Status, 0);
  ASSERT_EQ(RunCommand("zip -q -P pw enc.zip plain.zip", tmp.Path().string()).Status, 0);
  WriteFile(tmp / "enc-prefix.zip", junk + ReadFile(tmp / "enc.zip"));
  Sluice lib(kLib);
  for (const std::string name : {"zip64.zip", "zip64-prefix.zip", "prefix.zip", "adjusted.zip"}) {
    SCOPED_TRACE(name);
    const std::string out = tmp / ("out-" + name);
    fs::create_directories(out);
    const Outcome o = lib.Run({.archive = tmp / name}, out);
    EXPECT_EQ(o.count, 2) << o.AllMessages();
    EXPECT_EQ(ReadFile(out + "/a/one.txt").size(), 4000u);
    EXPECT_EQ(ReadFile(out + "/two.txt"), "two");
  }
  const Outcome o = lib.Run({.archive = tmp / "enc-prefix.zip", .password = "pw", .test = true}, tmp.Path());
  EXPECT_EQ(o.count, 1) << o.AllMessages();
}

// Bytes flipped anywhere, headers and directory included: clean messages, no crash, and
// never a file outside the folder.
TEST(Safety, DamagedArchivesNeverCrash) {
  TempDir tmp;
  fs::create_directories(tmp / "src/sub");
  std::string text;
  for (int i = 0; i < 3000; ++i) text += std::to_string(i) + " text\n";
  WriteFile(tmp / "src/sub/a.txt", text);
  WriteFile(tmp / "src/b.txt", text.substr(0, 999));
  ASSERT_EQ(RunCommand("zip -qr ../good.zip .", tmp / "src").Status, 0);
  const std::string good = ReadFile(tmp / "good.zip");
  Sluice lib(kLib);
  // Cut in the middle: the directory is gone, a coded message naming the archive.
  fs::create_directories(tmp / "t");
  WriteFile(tmp / "t/cut.zip", good.substr(0, good.size() / 2));
  const Outcome cut = lib.Run({.archive = tmp / "t/cut.zip", .test = true}, tmp.Path());
  EXPECT_EQ(cut.count, 0);
  EXPECT_TRUE(cut.HasMessage(kLibErrBadArchive, "cut.zip")) << cut.AllMessages();
  fs::remove(tmp / "t/cut.zip");
  std::mt19937 rng(11);
  const std::string out = tmp / "t/out";
  for (int round = 0; round < 150; ++round) {
    std::string bad = good;
    for (int k = 0; k < 1 + round % 3; ++k) bad[rng() % bad.size()] = char(rng());
    if (round % 10 == 9) bad.resize(rng() % bad.size());
    WriteFile(tmp / "t/bad.zip", bad);
    fs::create_directories(out);
    for (bool test : {true, false}) {
      const Outcome o = lib.Run({.archive = tmp / "t/bad.zip", .test = test, .overwrite = true}, out);
      ASSERT_GE(o.count, 0);
      ASSERT_LE(o.count, 3);
      for (const auto& [code, text] : o.Messages()) ASSERT_NE(code, 0) << text;
    }
    fs::remove_all(out);
  }
  EXPECT_EQ(Listing(tmp.Path()),
            (std::set<std::string>{"good.zip", "src", "src/b.txt", "src/sub", "src/sub/a.txt", "t", "t/bad.zip"}));
}

TEST(Safety, EntriesOfOneNameAreWrittenInArchiveOrder) {
  TempDir tmp;
  const std::string zip = Craft(tmp, "dup.zip", R"([
    {"name": "same.txt", "data": "first, and large ", "repeat": 2000000, "method": 8},
    {"name": "other/same.txt", "data": "second"}
  ])");
  const Outcome o = Sluice(kLib).Run({.archive = zip, .dirNames = false, .overwrite = true}, tmp.Path());
  EXPECT_EQ(o.count, 2) << o.AllMessages();
  EXPECT_EQ(ReadFile(tmp / "same.txt"), "second");
}

}  // namespace

namespace {

// Two Zip64 end records, each with a directory of its own: a reader that took the data of
// some entries by the other directory would unpack one stream of zeros many times over.
TEST(Safety, Zip64EndRecordsThatDisagreeAreRefused) {
  TempDir tmp;
  const std::string zip = Crafted("two-zip64-ends", tmp / "two.zip");
  Sluice lib(kLib);
  for (bool test : {true, false}) {
    SCOPED_TRACE(test ? "test" : "extract");
    const std::string out = tmp / (test ? "test" : "extract");
    fs::create_directories(out);
    const Outcome o = lib.Run({.archive = zip, .test = test}, out);
    EXPECT_EQ(o.count, 0);
    EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "two.zip: the archive's two Zip64 end records disagree"))
        << o.AllMessages();
    EXPECT_TRUE(fs::is_empty(out));
  }
}

// A link and then a file of the same name: the file is written only with overwrite, as if
// the link were there before, and replaces it; the count takes what is there in the end.
TEST(Safety, ANameWrittenTwiceFollowsTheOverwriteRule) {
  TempDir tmp;
  const std::string zip = Crafted("link-then-file", tmp / "twice.zip");
  Sluice lib(kLib);
  for (bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite ? "overwrite" : "keep");
    const std::string out = tmp / (overwrite ? "overwrite" : "keep");
    fs::create_directories(out);
    const Outcome o = lib.Run({.archive = zip, .overwrite = overwrite}, out);
    EXPECT_EQ(o.count, 2) << o.AllMessages();
    EXPECT_EQ(o.HasMessage(kLibErrExists, "l: skipped: the file exists"), !overwrite) << o.AllMessages();
    EXPECT_EQ(fs::is_symlink(out + "/l"), !overwrite);
    if (overwrite) {
      EXPECT_EQ(ReadFile(out + "/l"), "the file\n");
    }
    EXPECT_EQ(Listing(out), (std::set<std::string>{"l", "sub"}));
  }
}

// The archive's permission bits as the umask allows them.
TEST(Safety, ModesPassThroughTheUmask) {
  TempDir tmp;
  const std::string zip = Crafted("open-modes", tmp / "modes.zip");
  const std::string out = tmp / "out";
  fs::create_directories(out);
  const mode_t saved = ::umask(027);
  const Outcome o = Sluice(kLib).Run({.archive = zip}, out);
  ::umask(saved);
  EXPECT_EQ(o.count, 3) << o.AllMessages();
  for (const auto& [name, mode] : {std::pair{"open", 0750u}, std::pair{"open/all.txt", 0640u}, std::pair{"run.sh", 0750u}}) {
    struct stat st{};
    ASSERT_EQ(::stat((out + "/" + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, mode) << name;
  }
}

// Killed midway (a seam stops the process once the file holds 1 MiB): no partial file is
// left under any name. Without unnamed files the stand-in of the dead process stays, and
// the next extract into that folder removes it; that of a process that runs stays.
TEST(Safety, AKilledExtractLeavesNoPartialFile) {
  TempDir tmp;
  const std::string zip = Craft(tmp, "big.zip", R"([{"name": "big.txt", "data": "big data ", "repeat": 800000, "method": 8}])");
  auto killed = [&](const std::string& out, bool named) {
    fs::create_directories(out);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("TESSERA_TEST_KILL_AFTER_BYTES", "1048576", 1);
      if (named) ::setenv("TESSERA_NO_TMPFILE", "1", 1);
      Sluice(kLib).Run({.archive = zip}, out);
      ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  };
  const std::string out = tmp / "out";
  killed(out, false);
  EXPECT_TRUE(fs::is_empty(out)) << *Listing(out).begin();

  const std::string named = tmp / "named";
  killed(named, true);
  ASSERT_EQ(Listing(named).size(), 1u);
  EXPECT_EQ(Listing(named).begin()->rfind(".tessera-", 0), 0u);
  const std::string living = ".tessera-" + std::to_string(::getppid()) + "-0.part";
  WriteFile(named + "/" + living, "a process that runs");
  const Outcome o = Sluice(kLib).Run({.archive = zip}, named);
  EXPECT_EQ(o.count, 1) << o.AllMessages();
  EXPECT_EQ(Listing(named), (std::set<std::string>{"big.txt", living}));
  EXPECT_EQ(fs::file_size(named + "/big.txt"), 9u * 800000);
}

}  // namespace
