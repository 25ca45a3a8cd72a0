// Deleting entries, and self-extracting archives keeping their program in front.

#include "KilnHarness.h"

#include <gtest/gtest.h>

#include <set>

using namespace kilntest;

namespace {

std::set<std::string> Names(const std::string& archive) {
  std::set<std::string> names;
  std::string out = Shell("unzip -Z1 " + Q(archive)).output;
  for (size_t i = 0, j; i < out.size(); i = j + 1) {
    j = out.find('\n', i);
    if (j == std::string::npos) j = out.size();
    if (j > i) names.insert(out.substr(i, j - i));
  }
  return names;
}

// Where Python finds the first entry and the central directory, as stored (no correction).
std::string StoredOffsets(const std::string& archive) {
  return Shell(std::string(TESSERA_PYTHON) + " -c " +
             Q("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n"
               "print(min([i.header_offset for i in z.infolist()] or [-1]), z.start_dir)") +
             " " + Q(archive))
      .output;
}

class KilnDelete : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(t / "p/dir/sub");
    WriteFile(t / "p/dir/a.txt", TextBytes(5000, 1));
    WriteFile(t / "p/dir/sub/b.txt", TextBytes(7000, 2));
    WriteFile(t / "p/dir/sub/c.dat", RandomBytes(3000, 3));
    WriteFile(t / "p/top.txt", "top\n");
    WriteFile(t / "p/other.dat", RandomBytes(100, 4));
    // Made by a peer, so deletion works on archives we did not write.
    Command zip = Shell("cd " + Q(t / "p") + " && zip -q -r ../peer.zip dir top.txt other.dat");
    ASSERT_EQ(zip.status, 0) << zip.output;
  }

  Options Deleting() {
    Options o;
    o.deleteOn = true;
    o.append = false;
    return o;
  }

  TempDir t;
  Kiln kiln{CurrentLibrary()};
};

TEST_F(KilnDelete, PatternsMatchStoredNames) {
  std::string a = t / "peer.zip";
  Outcome out = kiln.Run(a, {"*.txt", "nothing"}, Deleting());
  EXPECT_EQ(out.result, 3);
  EXPECT_TRUE(out.HasError(kLibErrNoMatch, "nothing"));
  EXPECT_EQ(Names(a), (std::set<std::string>{"dir/", "dir/sub/", "dir/sub/c.dat", "other.dat"}));
  EXPECT_EQ(Shell("unzip -t " + Q(a)).status, 0);
  EXPECT_EQ(Shell("7zz t " + Q(a)).status, 0);

  // A folder name alone is its own entry only; "dir/*" is everything below.
  EXPECT_EQ(kiln.Run(a, {"dir"}, Deleting()).result, 1);
  EXPECT_EQ(Names(a), (std::set<std::string>{"dir/sub/", "dir/sub/c.dat", "other.dat"}));
  EXPECT_EQ(kiln.Run(a, {"./dir/*"}, Deleting()).result, 2);
  EXPECT_EQ(Names(a), (std::set<std::string>{"other.dat"}));
  EXPECT_EQ(PythonCompare(a, t / "p"), "OK\n");

  // Nothing matched: the archive is not rewritten.
  std::string before = ReadFile(a);
  out = kiln.Run(a, {"x*"}, Deleting());
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(ReadFile(a), before);

  // The last entry gone: an empty archive stays.
  EXPECT_EQ(kiln.Run(a, {"*.*"}, Deleting()).result, 1);
  EXPECT_EQ(ReadFile(a).size(), 22u);
  EXPECT_EQ(Shell(std::string(TESSERA_PYTHON) + " -c " + Q("import zipfile,sys;print(len(zipfile.ZipFile(sys.argv[1]).namelist()))") +
                " " + Q(a))
                .output,
            "0\n");
}

TEST_F(KilnDelete, SelfExtractorKeepsItsProgramAndAbsoluteOffsets) {
  // A stub and a 256-byte header in front; the empty form is one end record after them.
  std::string stub = "#!/bin/sh\necho stub\nexit 0\n" + RandomBytes(4000, 9);
  std::string header = "MPU" + std::string(253, '\0');
  std::string prefix = stub + header;
  std::string empty = "PK\x05\x06" + std::string(12, '\0');
  uint32_t at = static_cast<uint32_t>(prefix.size());
  for (int i = 0; i < 4; ++i) empty += static_cast<char>(at >> (8 * i));
  empty += std::string(2, '\0');
  std::string exe = t / "new.exe";
  WriteFile(exe, prefix + empty);

  InDir here(t / "p");
  Options o;
  o.recurse = true;
  Outcome out = kiln.Run(exe, {"dir", "top.txt"}, o);
  EXPECT_EQ(out.result, 6) << testing::PrintToString(out.Errors());
  EXPECT_EQ(ReadFile(exe).substr(0, prefix.size()), prefix);
  EXPECT_EQ(StoredOffsets(exe).substr(0, std::to_string(at).size() + 1), std::to_string(at) + " ");
  Command unzip = Shell("unzip -t " + Q(exe));
  EXPECT_EQ(unzip.status, 0) << unzip.output;
  EXPECT_EQ(unzip.output.find("extra bytes"), std::string::npos) << unzip.output;
  EXPECT_EQ(PythonCompare(exe, t / "p"), "OK\n");

  EXPECT_EQ(kiln.Run(exe, {"dir/sub/*"}, Deleting()).result, 3);  // the folder's own entry too
  EXPECT_EQ(ReadFile(exe).substr(0, prefix.size()), prefix);
  unzip = Shell("unzip -t " + Q(exe));
  EXPECT_EQ(unzip.status, 0) << unzip.output;
  EXPECT_EQ(unzip.output.find("extra bytes"), std::string::npos) << unzip.output;
  EXPECT_EQ(Shell("sh " + Q(exe)).output, "stub\n");

  // A self-extractor made by a peer (zip -A fixes the offsets of a concatenated file).
  std::string peer = t / "peer.exe";
  WriteFile(peer, prefix + ReadFile(t / "peer.zip"));
  ASSERT_EQ(Shell("zip -A " + Q(peer)).status, 0);
  EXPECT_EQ(kiln.Run(peer, {"other.dat"}, Deleting()).result, 1);
  EXPECT_EQ(kiln.Run(peer, {"other.dat"}, o).result, 1);
  EXPECT_EQ(ReadFile(peer).substr(0, prefix.size()), prefix);
  EXPECT_EQ(Shell("unzip -t " + Q(peer)).status, 0);
  EXPECT_EQ(StoredOffsets(peer).substr(0, std::to_string(at).size() + 1), std::to_string(at) + " ");
}

}  // namespace
