// Deleting entries, and self-extracting archives keeping their program in front.

#include "KilnHarness.h"

#include <gtest/gtest.h>

using namespace kilntest;

namespace {

const Options kDelete{.deleteOn = true};

class KilnDelete : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(t / "p/dir/sub");
    WriteFile(t / "p/dir/a.txt", TextBytes(5000, 1));
    WriteFile(t / "p/dir/sub/b.txt", TextBytes(7000, 2));
    WriteFile(t / "p/dir/sub/c.dat", RandomBytes(3000, 3));
    WriteFile(t / "p/top.txt", "top\n");
    WriteFile(t / "p/other.dat", RandomBytes(100, 4));
    // Made by a peer, so deletion works on archives we did not write.
    CommandResult zip = RunCommand("zip -q -r ../peer.zip dir top.txt other.dat", t / "p");
    ASSERT_EQ(zip.Status, 0) << zip.Output;
  }

  TempDir t;
  Kiln kiln{CurrentLibrary()};
};

TEST_F(KilnDelete, PatternsMatchStoredNames) {
  std::string a = t / "peer.zip";
  Outcome out = kiln.Run(a, {"*.txt", "nothing"}, kDelete);
  EXPECT_EQ(out.result, 3);
  EXPECT_TRUE(out.HasError(kLibErrNoMatch, "nothing"));
  EXPECT_EQ(Names(a), (std::set<std::string>{"dir/", "dir/sub/", "dir/sub/c.dat", "other.dat"}));
  EXPECT_EQ(PeerComplaints(a), "");

  // A folder name alone is its own entry only; "dir/*" is everything below.
  EXPECT_EQ(kiln.Run(a, {"dir"}, kDelete).result, 1);
  EXPECT_EQ(Names(a), (std::set<std::string>{"dir/sub/", "dir/sub/c.dat", "other.dat"}));
  EXPECT_EQ(kiln.Run(a, {"./dir/*"}, kDelete).result, 2);
  EXPECT_EQ(Names(a), (std::set<std::string>{"other.dat"}));
  EXPECT_EQ(PythonCompare(a, t / "p"), "OK\n");

  // Nothing matched: the archive is not rewritten.
  std::string before = ReadFile(a);
  EXPECT_EQ(kiln.Run(a, {"x*"}, kDelete).result, 0);
  EXPECT_EQ(ReadFile(a), before);
}

TEST_F(KilnDelete, CopiedArchivesStayReadableFromMiddleEndAndWithDescriptors) {
  std::string a = t / "peer.zip", before = t / "before.zip";
  ASSERT_EQ(RunCommand("echo 'the comment' | zip -q -z " + Quote(a)).Status, 0);
  WriteFile(before, ReadFile(a));
  // From the middle of the file, and the entry stored last (zip takes its arguments in order).
  ASSERT_EQ(Python("import zipfile,sys\nprint(zipfile.ZipFile(sys.argv[1]).infolist()[-1].filename)", {a}), "other.dat\n");
  EXPECT_EQ(kiln.Run(a, {"dir/sub/b.txt", "other.dat"}, kDelete).result, 2);
  EXPECT_EQ(KeptVerbatim(before, a), "dir/sub/b.txt other.dat\nOK\n");
  EXPECT_EQ(PeerComplaints(a), "");

  // Entries followed by data descriptors (a writer that could not seek back).
  std::string streamed = t / "streamed.zip";
  ASSERT_EQ(RunCommand(std::string(TESSERA_PYTHON) + " -c " +
                  Quote("import zipfile,sys\nz=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED)\n"
                    "for i in range(5): z.writestr('s%d.txt'%i, ('line %d\\n'%i)*(2000*i+1))\nz.close()") +
                  " | cat > " + Quote(streamed)).Status, 0);
  WriteFile(before, ReadFile(streamed));
  EXPECT_EQ(kiln.Run(streamed, {"s0.txt", "s2.txt"}, kDelete).result, 2);
  EXPECT_EQ(KeptVerbatim(before, streamed), "s0.txt s2.txt\nOK\n");
}

// What peers make of an archive left without entries: an empty one, nothing worse.
void ExpectEmptyArchiveTakenByPeers(const std::string& archive) {
  CommandResult unzip = RunCommand("unzip -t " + Quote(archive));
  EXPECT_NE(unzip.Output.find("zipfile is empty"), std::string::npos) << unzip.Output;
  EXPECT_EQ(unzip.Output.find("error"), std::string::npos) << unzip.Output;
  CommandResult sevenzip = RunCommand("7zz t " + Quote(archive));
  EXPECT_EQ(sevenzip.Status, 0) << sevenzip.Output;
}

// Python writes Zip64 end records past its entry limit; with the limit lowered a few entries
// get them, as 65,536 would.
TEST_F(KilnDelete, Zip64EndRecordsStayWhileEntriesDoAndGoWithTheLast) {
  std::string a = t / "z64.zip", before = t / "before.zip";
  Python("import zipfile,sys\nzipfile.ZIP_FILECOUNT_LIMIT=2\nz=zipfile.ZipFile(sys.argv[1],'w')\n"
         "for i in range(6): z.writestr('f%d'%i, str(i)*(i+1))\nz.close()",
         {a});
  ASSERT_NE(ReadFile(a).find("PK\x06\x06"), std::string::npos);
  WriteFile(before, ReadFile(a));
  EXPECT_EQ(kiln.Run(a, {"f0", "f3"}, kDelete).result, 2);
  EXPECT_EQ(KeptVerbatim(before, a), "f0 f3\nOK\n");
  EXPECT_NE(ReadFile(a).find("PK\x06\x06"), std::string::npos);
  EXPECT_EQ(PeerComplaints(a), "");

  EXPECT_EQ(kiln.Run(a, {"*"}, kDelete).result, 4);
  EXPECT_EQ(ReadFile(a).size(), 22u);
  ExpectEmptyArchiveTakenByPeers(a);
}

TEST_F(KilnDelete, SelfExtractorKeepsItsProgramAndAbsoluteOffsets) {
  // A stub and a 256-byte header in front; the empty form is one end record after them.
  const std::string prefix = "#!/bin/sh\necho stub\nexit 0\n" + RandomBytes(4000, 9) + "MPU" + std::string(253, '\0');
  const uint32_t at = static_cast<uint32_t>(prefix.size());
  const std::string exe = t / "new.exe", peer = t / "peer.exe";
  WriteFile(exe, prefix + "PK\x05\x06" + std::string(12, '\0') + LE32(at) + std::string(2, '\0'));
  // The program in front, the first entry right after it, stored offsets that need no correction.
  auto expectProgramKept = [&](const std::string& archive, const char* after) {
    SCOPED_TRACE(after);
    EXPECT_EQ(ReadFile(archive).substr(0, prefix.size()), prefix);
    EXPECT_EQ(Python("import zipfile,sys\nprint(min(i.header_offset for i in zipfile.ZipFile(sys.argv[1]).infolist()))",
                     {archive}),
              std::to_string(at) + "\n");
    CommandResult unzip = RunCommand("unzip -t " + Quote(archive));
    EXPECT_EQ(unzip.Status, 0) << unzip.Output;
    EXPECT_EQ(unzip.Output.find("extra bytes"), std::string::npos) << unzip.Output;
  };

  InDir here(t / "p");
  const Options add{.recurse = true};
  EXPECT_EQ(kiln.Run(exe, {"dir", "top.txt"}, add).result, 6);
  expectProgramKept(exe, "add");
  EXPECT_EQ(PythonCompare(exe, t / "p"), "OK\n");
  EXPECT_EQ(kiln.Run(exe, {"dir/sub/*"}, kDelete).result, 3);  // the folder's own entry too
  expectProgramKept(exe, "delete");
  EXPECT_EQ(RunCommand("sh " + Quote(exe)).Output, "stub\n");

  // A self-extractor made by a peer (zip -A fixes the offsets of a concatenated file).
  WriteFile(peer, prefix + ReadFile(t / "peer.zip"));
  ASSERT_EQ(RunCommand("zip -A " + Quote(peer)).Status, 0);
  WriteFile(t / "before.exe", ReadFile(peer));
  EXPECT_EQ(kiln.Run(peer, {"other.dat"}, kDelete).result, 1);
  EXPECT_EQ(KeptVerbatim(t / "before.exe", peer), "other.dat\nOK\n");
  EXPECT_EQ(kiln.Run(peer, {"other.dat"}, add).result, 1);
  expectProgramKept(peer, "peer's, delete and add");

  // Every entry deleted: still the program, and an empty archive peers take; adding fills it again.
  EXPECT_EQ(kiln.Run(exe, {"*"}, kDelete).result, 3);
  EXPECT_EQ(ReadFile(exe).substr(0, prefix.size()), prefix);
  ExpectEmptyArchiveTakenByPeers(exe);
  EXPECT_EQ(kiln.Run(exe, {"top.txt"}, add).result, 1);
  expectProgramKept(exe, "emptied and added");
}

}  // namespace
