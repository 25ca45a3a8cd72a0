// Conversion between plain and self-extracting archives, checked with Info-ZIP and
// Python on archives they wrote.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "MarlinOp.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kStubSize = 3000;

struct Converter : Recorder {
  explicit Converter(const std::string& stub, const std::string& archive = {}) {
    m.SetHowToDelete(DeleteOpts::htdFinal);
    m.SetSFXPath(stub);
    if (!archive.empty()) m.SetZipFilename(archive);
  }
};

std::string MakeStub(const TempDir& dir) {
  std::string bytes;
  for (uint32_t i = 0; i < kStubSize; ++i) bytes += char((i * 7919) >> 3);
  WriteFile(dir / "stub.bin", bytes);
  return dir / "stub.bin";
}

// An Info-ZIP archive of a small tree, with an archive comment.
std::string MakeZip(const TempDir& dir, const std::string& name) {
  fs::create_directories(dir.Path() / "tree/sub");
  WriteFile(dir / "tree/a.txt", std::string(3000, 'a'));
  WriteFile(dir / "tree/sub/b.bin", std::string(500, '\x05'));
  WriteFile(dir / "tree/sub/empty", "");
  const CommandResult r =
      RunCommand("echo 'the comment' | zip -q -r -X -z " + Quote(name) + " tree && rm -rf tree", dir.Path());
  EXPECT_EQ(r.Status, 0) << r.Output;
  return dir / name;
}

}  // namespace

TEST(SfxConversion, InfoZipArchiveBothWays) {
  TempDir dir;
  const std::string stub = MakeStub(dir), zip = MakeZip(dir, "DATA.Zip");
  const std::string original = ReadFile(zip);
  Converter c(stub, zip);
  const std::vector<ZipDirEntry> before(c.m.Contents().begin(), c.m.Contents().end());
  // The header holds 249 bytes of texts.
  c.m.SetSFXCaption(std::string(100, 'c'));
  c.m.SetSFXDefaultDir(std::string(100, 'd'));
  c.m.SetSFXCommandLine(std::string(50, 'x'));
  EXPECT_EQ(c.m.ConvertSFX(), -9);
  EXPECT_EQ(c.m.LastMessage(),
            "Error - On or more of the 4 property strings mentioned below exceeds 255 characters!"
            "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = 250");
  EXPECT_EQ(c.ui.Boxes.size(), 1u);
  c.messages.clear();
  c.m.SetSFXCommandLine(std::string(49, 'x'));
  ASSERT_EQ(c.m.ConvertSFX(), 0) << (c.messages.empty() ? "" : c.messages.back());

  const std::string exe = dir / "DATA.exe";
  EXPECT_EQ(c.m.ZipFilename(), exe);
  EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"DATA.exe", "stub.bin"}));
  const std::string bytes = ReadFile(exe);
  ASSERT_EQ(bytes.size(), kStubSize + 256 + original.size());
  EXPECT_EQ(bytes.substr(0, kStubSize), ReadFile(stub));
  EXPECT_EQ(bytes.substr(kStubSize, 7), std::string("MPU\x00\x64\x64\x31", 7));
  EXPECT_EQ(bytes.substr(kStubSize + 7, 249), std::string(100, 'c') + std::string(100, 'd') + std::string(49, 'x'));
  EXPECT_EQ(c.m.PrefixSize(), kStubSize + 256);
  EXPECT_FALSE(c.m.OffsetMismatch());
  ASSERT_EQ(c.m.Contents().size(), before.size());
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(c.m.Contents()[i].LocalHeaderOffset, before[i].LocalHeaderOffset + kStubSize + 256);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(exe).permissions(), fs::perms(0777 & ~mask));

  // Independent readers take the program as a plain archive, without an offset warning.
  const CommandResult test = RunCommand("unzip -t " + Quote(exe));
  EXPECT_EQ(test.Status, 0) << test.Output;
  EXPECT_EQ(test.Output.find("warning"), std::string::npos) << test.Output;

  ASSERT_EQ(c.m.ConvertZIP(), 0);
  EXPECT_EQ(c.m.ZipFilename(), dir / "DATA.zip");
  EXPECT_EQ(ReadFile(dir / "DATA.zip"), original);
  EXPECT_FALSE(fs::exists(exe));
  EXPECT_TRUE(c.messages.empty());
  EXPECT_EQ(c.ui.BusyDepth, 0);

  // The option bits of the header, and refusals.
  struct Case { SFXOpts options; OvrOpts mode; char bits; };
  const SFXOpts all{SFXOptsEnum::SFXAskCmdLine, SFXOptsEnum::SFXAskFiles, SFXOptsEnum::SFXAutoRun,
                    SFXOptsEnum::SFXHideOverWriteBox, SFXOptsEnum::SFXCheckSize};
  for (const Case& k : {Case{{}, OvrOpts::OvrConfirm, 0x20}, Case{all, OvrOpts::OvrNever, 0x57},
                        Case{{SFXOptsEnum::SFXCheckSize, SFXOptsEnum::SFXAutoRun}, OvrOpts::OvrAlways, 0x48}}) {
    c.m.SetSFXOptions(k.options);
    c.m.SetSFXOverWriteMode(k.mode);
    ASSERT_EQ(c.m.ConvertSFX(), 0);
    EXPECT_EQ(ReadFile(exe)[kStubSize + 3], k.bits);
    ASSERT_EQ(c.m.ConvertZIP(), 0);
  }

  // Offsets that do not count the junk in front are copied unchanged (the other way is
  // run by the stub's own tests).
  WriteFile(dir / "cat.exe", ReadFile(stub) + original);
  c.m.SetZipFilename(dir / "cat.exe");
  EXPECT_TRUE(c.m.OffsetMismatch());
  ASSERT_EQ(c.m.ConvertZIP(), 0);
  EXPECT_EQ(ReadFile(dir / "cat.zip"), original);

  WriteFile(dir / "b.zp", ReadFile(dir / "DATA.zip"));
  c.m.SetZipFilename(dir / "b.zp");
  EXPECT_EQ(c.m.ConvertSFX(), -9);
  EXPECT_EQ(c.m.LastMessage(), "Error: input file is not a zip file");
  EXPECT_EQ(c.m.ConvertZIP(), -3);
  EXPECT_EQ(c.m.LastMessage(), "Error: input file is not an .EXE file");
  WriteFile(dir / "plain.exe", ReadFile(dir / "DATA.zip"));
  c.m.SetZipFilename(dir / "plain.exe");
  EXPECT_EQ(c.m.ConvertZIP(), -9);
  EXPECT_EQ(c.m.LastMessage(), "Error determining the type of SFX archive");

  // Archives whose offsets cannot move within 32 bits, and the last volume of a set.
  ASSERT_EQ(RunCommand("cp DATA.zip z.zip && zip -q -fz z64.zip z.zip", dir.Path()).Status, 0);
  std::string spanned = ReadFile(dir / "DATA.zip");
  const size_t end = spanned.rfind("PK\x05\x06");
  spanned.replace(end + 4, 4, LE16(1) + LE16(1));
  WriteFile(dir / "spanned.zip", spanned);
  for (const auto& [name, entries, id] : {std::tuple{"z64.zip", 1, 10804}, std::tuple{"spanned.zip", 5, 11041}}) {
    c.m.SetZipFilename(dir / name);
    ASSERT_EQ(c.m.EntryCount(), entries) << name;
    EXPECT_EQ(c.m.ConvertSFX(), -3);
    EXPECT_EQ(c.m.LastErrCode(), id);
  }
  EXPECT_FALSE(fs::exists(dir / "z64.exe") || fs::exists(dir / "spanned.exe"));
}

TEST(SfxConversion, StubSearchAndEmptyForm) {
  TempDir dir;
  for (const char* folder : {TESSERA_INSTALL_PREFIX "/lib/tessera", TESSERA_INSTALL_PREFIX "/share/tessera"})
    if (fs::exists(fs::path(folder) / "Stubby.bin")) GTEST_SKIP() << "a stub is installed in " << folder;
  const std::string zip = MakeZip(dir, "a.zip");
  Converter c(dir / "nowhere.bin", zip);
  EXPECT_EQ(c.m.ConvertSFX(), -9);
  EXPECT_EQ(c.m.LastMessage(), "Error - STUBBY.BIN not found!");
  EXPECT_EQ(c.m.SFXPath(), "");
  EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"a.zip"});

  fs::create_directories(dir.Path() / "lib");
  const std::string stub = MakeStub(dir);
  fs::rename(stub, dir / "lib/Stubby.bin");
  c.m.SetDLLDirectory(dir / "lib/");
  c.m.SetAutoSFX(true);
  c.m.SetZipFilename(dir / "new.exe");
  ASSERT_EQ(c.m.ConvertSFX(), 0);
  c.m.SetAutoSFX(false);
  EXPECT_EQ(c.m.SFXPath(), dir / "lib/Stubby.bin");
  const std::string bytes = ReadFile(dir / "new.exe");
  ASSERT_EQ(bytes.size(), kStubSize + 278);
  EXPECT_EQ(bytes.substr(kStubSize + 256), "PK\x05\x06" + std::string(12, '\0') + LE32(kStubSize + 256) + LE16(0));

  c.m.SetZipFilename(dir / "new.exe");
  EXPECT_EQ(c.m.EntryCount(), 0);
  ASSERT_EQ(c.m.ConvertZIP(), 0);
  EXPECT_EQ(ReadFile(dir / "new.zip"), "PK\x05\x06" + std::string(18, '\0'));
}

// A real write failure: the file-size limit stops the copy in the middle.
TEST(SfxConversion, FailedWritesLeaveEverythingAsItWas) {
  TempDir dir;
  const std::string stub = MakeStub(dir), zip = MakeZip(dir, "a.zip");
  const std::string archive = ReadFile(zip);
  WriteFile(dir / "a.exe", "an older program");
  Converter c(stub, zip);

  rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = kStubSize + 256 + archive.size() / 2;
  ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const int r = c.m.ConvertSFX();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(r, -2);
  EXPECT_EQ(c.m.ZipFilename(), zip);
  EXPECT_EQ(ReadFile(zip), archive);
  EXPECT_EQ(ReadFile(dir / "a.exe"), "an older program");
  EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"a.exe", "a.zip", "stub.bin"}));

  // A source that stopped being an archive after it was listed.
  WriteFile(zip, std::string(archive.size(), 'z'));
  EXPECT_EQ(c.m.ConvertSFX(), -3);
  EXPECT_EQ(c.m.ZipFilename(), zip);
  EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"a.exe", "a.zip", "stub.bin"}));
}

// A folder or a device under the output's name belongs to the user: the conversion fails
// and takes nothing away, in both directions. A file or a link there is replaced.
TEST(SfxConversion, OnlyFilesAndLinksAreReplaced) {
  TempDir dir;
  const std::string stub = MakeStub(dir), zip = MakeZip(dir, "a.zip");
  fs::create_directory(dir / "a.exe");
  WriteFile(dir / "a.exe/keep.txt", "mine");
  Converter c(stub, zip);
  EXPECT_EQ(c.m.ConvertSFX(), -1);
  EXPECT_EQ(c.messages.back(), dir / "a.exe" + " is in the way and is not a file: it is left as it is");
  EXPECT_EQ(ReadFile(dir / "a.exe/keep.txt"), "mine");
  EXPECT_EQ(c.m.ZipFilename(), zip);
  ASSERT_EQ(::mkfifo((dir / "b.exe").c_str(), 0600), 0);
  c.m.SetAutoSFX(true);
  c.m.SetZipFilename(dir / "b.exe");
  EXPECT_EQ(c.m.ConvertSFX(), -1);
  c.m.SetAutoSFX(false);
  EXPECT_TRUE(fs::is_fifo(dir / "b.exe"));

  fs::remove_all(dir / "a.exe");
  fs::create_symlink("elsewhere.exe", dir / "a.exe");
  c.m.SetZipFilename(zip);
  ASSERT_EQ(c.m.ConvertSFX(), 0) << c.m.LastMessage();
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "a.exe")));

  fs::create_directory(dir / "a.zip");
  EXPECT_EQ(c.m.ConvertZIP(), -1);
  EXPECT_TRUE(fs::is_directory(dir / "a.zip"));
  EXPECT_EQ(c.m.ZipFilename(), dir / "a.exe");
}
