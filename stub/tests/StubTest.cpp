// Self-extracting programs made by the component around the real stub, run as a user
// would run them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>

#include "TMarlin.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string kStub = TESSERA_STUB;

// Converts `zip` (in `dir`) with the given settings and returns the program's path.
std::string MakeSfx(const std::string& zip, const std::function<void(TMarlin&)>& setup = {}) {
  TMarlin m;
  m.SetUnattended(true);
  m.SetHowToDelete(DeleteOpts::htdFinal);
  m.SetSFXPath(kStub);
  if (setup) setup(m);
  m.SetZipFilename(zip);
  EXPECT_EQ(m.ConvertSFX(), 0) << m.LastMessage();
  return m.ZipFilename();
}

CommandResult RunSfx(const std::string& exe, const std::string& args, const std::string& cwd = {}) {
  return RunCommand(Quote(exe) + " " + args + " </dev/null", cwd);
}

// Python archive of the entries named, with a fixed date; entry i holds "entry i\n" i + 1
// times, and a name "link->target" makes a symbolic link.
std::string PythonZip(const TempDir& dir, const std::string& name, const std::vector<std::string>& entries) {
  std::vector<std::string> args{dir / name};
  args.insert(args.end(), entries.begin(), entries.end());
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for i, n in enumerate(sys.argv[2:]):
        if '->' in n:
            link, target = n.split('->')
            info = zipfile.ZipInfo(link)
            info.create_system, info.external_attr = 3, 0o120777 << 16
            z.writestr(info, target.encode())
            continue
        z.writestr(zipfile.ZipInfo(n, (2021, 6, 15, 13, 45, 30)), ('entry %d\n' % i).encode() * (i + 1),
                   zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED)
)PY",
         args);
  return dir / name;
}

time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  tm t{};
  t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

time_t MTime(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// Runs `exe` in `dir` with a new pseudo-terminal as its controlling terminal; `talk`, Python
// with the terminal's ends `master` and `slave` and the process `p`, does the rest and prints
// what the test checks. "SKIP: why" when no terminal can be had here (a chroot or container
// without /dev/pts, say).
std::string InTerminal(const std::vector<std::string>& command, const std::string& dir, const std::string& talk) {
  std::vector<std::string> args{dir};
  args.insert(args.end(), command.begin(), command.end());
  return Python(R"PY(
import fcntl, os, pty, select, subprocess, sys, termios
try:
    master, slave = pty.openpty()
except OSError as e:
    sys.exit(print('SKIP: no pseudo-terminal: %s' % e))
p = subprocess.Popen(sys.argv[2:], cwd=sys.argv[1], stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
                     preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
)PY" + talk,
                args);
}

}  // namespace

TEST(Stub, ExtractsIdenticalFilesAndShowsNamesEscaped) {
  TempDir dir;
  fs::create_directories(dir.Path() / "tree/sub");
  std::string noise;
  for (int i = 0; i < 70000; ++i) noise += char((i * 2654435761u) >> 13);
  WriteFile(dir / "tree/noise.bin", noise);
  WriteFile(dir / "tree/sub/text.txt", std::string(5000, 't'));
  WriteFile(dir / "tree/sub/empty", "");
  WriteFile(dir / "tree/run.sh", "echo hi\n");
  ASSERT_EQ(RunCommand("chmod 755 tree/run.sh && touch -d '2020-05-17 10:11:12' tree/sub/text.txt && "
                       "zip -q -r info.zip tree", dir.Path()).Status, 0);
  const std::string exe = MakeSfx(dir / "info.zip");

  const CommandResult list = RunSfx(exe, "--list");
  EXPECT_EQ(list.Status, 0);
  EXPECT_NE(list.Output.find("tree/sub/text.txt"), std::string::npos) << list.Output;
  EXPECT_EQ(RunSfx(exe, "--test").Status, 0);
  const CommandResult run = RunSfx(exe, "--dir " + Quote(dir / "out") + " --yes");
  ASSERT_EQ(run.Status, 0) << run.Output;
  for (const char* f : {"noise.bin", "sub/text.txt", "sub/empty", "run.sh"})
    EXPECT_EQ(ReadFile(dir / ("out/tree/" + std::string(f))), ReadFile(dir / ("tree/" + std::string(f)))) << f;
  EXPECT_EQ(MTime(dir / "out/tree/sub/text.txt"), LocalTime(2020, 5, 17, 10, 11, 12));
  EXPECT_NE(fs::status(dir / "out/tree/run.sh").permissions() & fs::perms::owner_exec, fs::perms::none);

  // Python's archives carry only the DOS date; their even entries are stored. Control
  // characters in names and caption are shown escaped.
  const std::string py = MakeSfx(PythonZip(dir, "py.zip", {"bell\x07.txt", "d/esc\x1b[31m.txt", "csi\xc2\x9b" "2J.txt"}),
                                 [](TMarlin& m) { m.SetSFXCaption("Title\xc2\x9d" "0;x\x07"); });
  const CommandResult shown = RunSfx(py, "--list");
  EXPECT_EQ(shown.Status, 0);
  for (const char* escaped : {"bell\\x07.txt", "esc\\x1b[31m.txt", "csi\\u009b2J.txt", "Title\\u009d0;x\\x07"})
    EXPECT_NE(shown.Output.find(escaped), std::string::npos) << escaped << "\n" << shown.Output;
  for (const char* raw : {"\x07", "\x1b", "\xc2\x9b", "\xc2\x9d"})
    EXPECT_EQ(shown.Output.find(raw), std::string::npos) << shown.Output;
  ASSERT_EQ(RunSfx(py, "--dir " + Quote(dir / "py") + " --yes").Status, 0);
  EXPECT_EQ(ReadFile(dir / "py/d/esc\x1b[31m.txt"), "entry 1\nentry 1\n");
  EXPECT_EQ(MTime(dir / "py/csi\xc2\x9b" "2J.txt"), LocalTime(2021, 6, 15, 13, 45, 30));
}

TEST(Stub, AutoRunDefaultFolderAndOverwriteModes) {
  TempDir dir;
  WriteFile(dir / "run.sh", "echo \"$1\" > \"$1/ran.txt\"\n");
  ASSERT_EQ(RunCommand("zip -q auto.zip run.sh && cp auto.zip keep.zip", dir.Path()).Status, 0);
  const std::string exe = MakeSfx(dir / "auto.zip", [](TMarlin& m) {
    m.SetSFXDefaultDir("inst");
    m.SetSFXCommandLine("/bin/sh|><run.sh \"><\"");
    m.SetSFXOptions({SFXOptsEnum::SFXAutoRun, SFXOptsEnum::SFXCheckSize});
  });
  const CommandResult run = RunSfx(exe, "", dir.Path());
  ASSERT_EQ(run.Status, 0) << run.Output;
  const std::string inst = fs::canonical(dir.Path() / "inst").string();
  EXPECT_EQ(ReadFile(inst + "/ran.txt"), inst + "/\n");

  // An existing file is kept unless the header says to overwrite it.
  for (const auto& [mode, expected] : {std::pair{OvrOpts::OvrConfirm, "mine"}, std::pair{OvrOpts::OvrNever, "mine"},
                                       std::pair{OvrOpts::OvrAlways, "echo"}}) {
    fs::copy_file(dir / "keep.zip", dir / "o.zip", fs::copy_options::overwrite_existing);
    const std::string o = MakeSfx(dir / "o.zip", [mode = mode](TMarlin& m) { m.SetSFXOverWriteMode(mode); });
    fs::create_directories(dir.Path() / "ow");
    WriteFile(dir / "ow/run.sh", "mine");
    EXPECT_EQ(RunSfx(o, "--yes --dir " + Quote(dir / "ow")).Status, 0);
    EXPECT_EQ(ReadFile(dir / "ow/run.sh").substr(0, 4), expected);
  }
}

TEST(Stub, ChecksCrcPasswordAndSize) {
  TempDir dir;
  WriteFile(dir / "data.txt", std::string(2000, 'q'));
  ASSERT_EQ(RunCommand("zip -q -0 plain.zip data.txt && zip -q -P secret enc.zip data.txt && "
                       "cp plain.zip cat.zip && cp plain.zip loose.zip",
                       dir.Path()).Status, 0);
  // A damaged byte in stored data.
  const std::string exe = MakeSfx(dir / "plain.zip");
  std::string bytes = ReadFile(exe);
  bytes[bytes.find(std::string(2000, 'q')) + 1000] = 'X';
  WriteFile(exe, bytes);
  CommandResult r = RunSfx(exe, "--yes --dir " + Quote(dir / "crc"));
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Output.find("CRC error"), std::string::npos) << r.Output;
  EXPECT_FALSE(fs::exists(dir / "crc/data.txt"));

  const std::string enc = MakeSfx(dir / "enc.zip");
  EXPECT_EQ(RunSfx(enc, "--password wrong --dir " + Quote(dir / "bad")).Status, 1);
  EXPECT_FALSE(fs::exists(dir / "bad/data.txt"));
  EXPECT_EQ(RunSfx(enc, "--password secret --dir " + Quote(dir / "good")).Status, 0);
  EXPECT_EQ(ReadFile(dir / "good/data.txt"), std::string(2000, 'q'));

  // Bytes after the archive are refused while the size check is on.
  EXPECT_LE(fs::file_size(kStub), 2u << 20);
  AppendFile(enc, "trailing");
  EXPECT_EQ(RunSfx(enc, "--list").Status, 3);
  const std::string loose = MakeSfx(dir / "loose.zip", [](TMarlin& m) { m.SetSFXOptions({}); });
  AppendFile(loose, "trailing");
  EXPECT_EQ(RunSfx(loose, "--yes --dir " + Quote(dir / "loose")).Status, 0);
  // The stub in front of an archive without the header is no self-extractor.
  WriteFile(dir / "cat.exe", ReadFile(kStub) + ReadFile(dir / "cat.zip"));
  fs::permissions(dir / "cat.exe", fs::perms::owner_exec, fs::perm_options::add);
  r = RunSfx(dir / "cat.exe", "--list");
  EXPECT_EQ(r.Status, 3);
  EXPECT_NE(r.Output.find("is not a self-extracting archive"), std::string::npos) << r.Output;
}

TEST(Stub, AsksInTheTerminal) {
  TempDir dir;
  const std::string exe = MakeSfx(PythonZip(dir, "ask.zip", {"one.txt", "two.txt", "three.txt"}), [](TMarlin& m) {
    m.SetSFXCaption("Asking Archive");
    m.SetSFXCommandLine("/bin/touch|><ran");
    m.SetSFXOptions({SFXOptsEnum::SFXAskFiles, SFXOptsEnum::SFXAskCmdLine, SFXOptsEnum::SFXCheckSize});
  });
  // Answers typed ahead: folder, overwrite mode, entries, and no to the command.
  const std::string out = InTerminal({exe}, dir.Path(), R"PY(
os.close(slave)
os.write(master, b'chosen\no\n2\nn\n')
out = b''
while True:
    try:
        chunk = os.read(master, 4096)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
print(out.decode(errors='replace'), p.wait())
)PY");
  if (out.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << out;
  EXPECT_NE(out.find("Asking Archive"), std::string::npos) << out;
  EXPECT_NE(out.find("Run "), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 3), " 0\n") << out;
  EXPECT_EQ(ReadFile(dir / "chosen/two.txt"), "entry 1\nentry 1\n");
  EXPECT_FALSE(fs::exists(dir / "chosen/one.txt") || fs::exists(dir / "chosen/three.txt"));
  EXPECT_FALSE(fs::exists(dir / "chosen/ran"));
}

TEST(Stub, StopsAtTheDeclaredSize) {
  TempDir dir;
  // 64 MiB of zeros that claim to be 10 bytes.
  Python(R"PY(
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('bomb.bin', bytes(64 << 20))
data = bytearray(open(sys.argv[1], 'rb').read())
struct.pack_into('<I', data, 22, 10)
central = data.rfind(b'PK\x01\x02')
struct.pack_into('<I', data, central + 24, 10)
open(sys.argv[1], 'wb').write(data)
)PY",
         {dir / "bomb.zip"});
  const std::string exe = MakeSfx(dir / "bomb.zip");
  const CommandResult test = RunSfx(exe, "--test");
  EXPECT_EQ(test.Status, 1);
  EXPECT_NE(test.Output.find("larger than the entry's declared size"), std::string::npos) << test.Output;
  // With a 2 MiB file size limit, writing on would end the program with SIGXFSZ.
  const CommandResult run =
      RunCommand("ulimit -f 2048; " + Quote(exe) + " --yes --dir " + Quote(dir / "out") + " </dev/null");
  EXPECT_EQ(run.Status, 1) << run.Output;
  EXPECT_NE(run.Output.find("larger than the entry's declared size"), std::string::npos) << run.Output;
  EXPECT_TRUE(fs::is_empty(dir.Path() / "out"));
}

TEST(Stub, RunsWhateverLiesInFrontOfTheFirstEntry) {
  TempDir dir;
  WriteFile(dir / "a.txt", std::string(3000, 'a'));
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += char('A' + i % 26);
  WriteFile(dir / "junk", junk);
  // Offsets adjusted to the prefix (zip -A), and offsets left as they were.
  ASSERT_EQ(RunCommand("zip -q a.zip a.txt && cat junk a.zip > fixed.zip && zip -q -A fixed.zip && "
                       "cat junk a.zip > loose.zip",
                       dir.Path()).Status, 0);
  for (const char* name : {"fixed", "loose"}) {
    const std::string exe = MakeSfx(dir / (std::string(name) + ".zip"));
    const CommandResult list = RunSfx(exe, "--list");
    EXPECT_EQ(list.Status, 0) << name << list.Output;
    const CommandResult run = RunSfx(exe, "--yes --dir " + Quote(dir / name));
    EXPECT_EQ(run.Status, 0) << name << run.Output;
    EXPECT_EQ(ReadFile(dir / (std::string(name) + "/a.txt")), std::string(3000, 'a')) << name;
  }
}

// Names and links that lead out of the folder are refused, and fail the run; the rest is
// extracted, links that stay inside among them.
TEST(Stub, NamesAndLinksStayInsideAndFailuresFailTheRun) {
  TempDir dir;
  fs::create_directories(dir.Path() / "out");
  fs::create_directories(dir.Path() / "outside");
  fs::create_directory_symlink(dir.Path() / "outside", dir.Path() / "out/link");
  const std::string exe = MakeSfx(PythonZip(
      dir, "links.zip",
      {"top.txt", "lib/real.txt", "lib/same->real.txt", "lib/up->../top.txt", "lib/deep/x->../real.txt",
       "abs->/etc/passwd", "lib/out->../../escape", "lib/dot->.", "lib/climb->dot/../../..", "../evil1", dir / "evil2",
       "a/../../evil3", "link/evil4", "..\\evil5"}));
  CommandResult run = RunSfx(exe, "--yes --dir " + Quote(dir / "out"));
  EXPECT_EQ(run.Status, 1) << run.Output;
  EXPECT_EQ(run.Output.find("Done."), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("8 entries could not be extracted"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("refused"), std::string::npos);
  for (const char* evil : {"evil1", "evil2", "evil3", "outside/evil4", "evil5"})
    EXPECT_FALSE(fs::exists(dir / evil)) << evil;
  EXPECT_EQ(ReadFile(dir / "out/lib/real.txt"), "entry 1\nentry 1\n");
  for (const auto& [link, target] : {std::pair{"lib/same", "real.txt"}, std::pair{"lib/up", "../top.txt"},
                                     std::pair{"lib/deep/x", "../real.txt"}, std::pair{"lib/dot", "."}}) {
    ASSERT_TRUE(fs::is_symlink(dir.Path() / "out" / link)) << link;
    EXPECT_EQ(fs::read_symlink(dir.Path() / "out" / link).string(), target);
  }
  EXPECT_EQ(ReadFile(dir / "out/lib/up"), "entry 0\n");
  for (const char* refused : {"abs", "lib/out", "lib/climb"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "out" / refused))) << refused;

  // A folder where a file goes is a failure, not a kept file.
  const std::string plain = MakeSfx(PythonZip(dir, "plain.zip", {"one.txt", "two.txt"}));
  fs::create_directories(dir.Path() / "busy/one.txt");
  run = RunSfx(plain, "--yes --dir " + Quote(dir / "busy"));
  EXPECT_EQ(run.Status, 1) << run.Output;
  EXPECT_EQ(run.Output.find("Done."), std::string::npos) << run.Output;
  EXPECT_EQ(ReadFile(dir / "busy/two.txt"), "entry 1\nentry 1\n");
}

TEST(Stub, CtrlCAtThePasswordPromptRestoresTheTerminal) {
  TempDir dir;
  WriteFile(dir / "data.txt", std::string(2000, 'q'));
  ASSERT_EQ(RunCommand("zip -q -P secret enc.zip data.txt", dir.Path()).Status, 0);
  const std::string exe = MakeSfx(dir / "enc.zip", [](TMarlin& m) {
    m.SetSFXOptions({SFXOptsEnum::SFXHideOverWriteBox, SFXOptsEnum::SFXCheckSize});
  });
  fs::create_directories(dir.Path() / "out");
  const std::string out = InTerminal({exe, "--dir", dir / "out"}, dir.Path(), R"PY(
seen = b''
while b'Password for' not in seen and select.select([master], [], [], 10)[0]:
    seen += os.read(master, 4096)
os.write(master, b'\x03')
code = p.wait(timeout=10)
echo = termios.tcgetattr(slave)[3] & termios.ECHO
print('prompt=%d echo=%d code=%d' % (b'Password for' in seen, echo != 0, code))
)PY");
  if (out.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << out;
  EXPECT_EQ(out, "prompt=1 echo=1 code=-2\n");
  EXPECT_TRUE(fs::is_empty(dir.Path() / "out"));
}

// Thirty records on one stream of zeros: refused, as the library refuses them, so nothing
// is written and the run fails.
TEST(Stub, RefusesEntriesThatShareTheirData) {
  TempDir dir;
  const std::string exe = MakeSfx(Crafted("shared-stream", dir / "shared.zip"));
  for (const char* args : {"--test", "--yes --dir out"}) {
    const CommandResult r = RunSfx(exe, args, dir.Path());
    EXPECT_EQ(r.Status, 1) << r.Output;
    EXPECT_NE(r.Output.find("z7: refused: its data overlaps another entry's"), std::string::npos) << r.Output;
  }
  EXPECT_TRUE(fs::is_empty(dir.Path() / "out"));
}

// Killed while a file is written (a seam stops the program once it holds 1 MiB): no
// partial file is left; the umask shapes the modes.
TEST(Stub, AKilledRunLeavesNoPartialFile) {
  TempDir dir;
  WriteFile(dir / "big.txt", std::string(3 << 20, 'b'));
  ASSERT_EQ(RunCommand("chmod 666 big.txt && zip -q big.zip big.txt", dir.Path()).Status, 0);
  const std::string exe = MakeSfx(dir / "big.zip");
  CommandResult r = RunCommand("TESSERA_TEST_KILL_AFTER_BYTES=1048576 " + Quote(exe) + " --yes --dir out </dev/null",
                               dir.Path());
  EXPECT_NE(r.Status, 0) << r.Output;
  EXPECT_TRUE(fs::is_empty(dir.Path() / "out")) << NamesIn(dir.Path() / "out").front();
  r = RunCommand("umask 027 && " + Quote(exe) + " --yes --dir masked </dev/null", dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(fs::status(dir.Path() / "masked/big.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
