// Archives written by peer tools, extracted and tested through the real library.

#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "SluiceHarness.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string kLib = SLUICE_LIBRARY;

// A tree of text, random bytes, an empty file and folders.
void MakeTree(const std::string& root) {
  std::mt19937 rng(42);
  fs::create_directories(root + "/sub/deep");
  std::string text;
  for (int i = 0; i < 8000; ++i) text += "line " + std::to_string(i * 7 % 1000) + " of some text\n";
  WriteFile(root + "/text.txt", text);
  std::string random(200000, '\0');
  for (char& c : random) c = char(rng());
  WriteFile(root + "/sub/random.bin", random);
  WriteFile(root + "/sub/empty", "");
  WriteFile(root + "/sub/deep/one.txt", "one\n");
  ::chmod((root + "/text.txt").c_str(), 0750);
}

void ExpectSameTree(const std::string& want, const std::string& got) {
  size_t files = 0;
  for (const auto& f : fs::recursive_directory_iterator(want)) {
    const fs::path rel = fs::relative(f.path(), want);
    ASSERT_TRUE(fs::exists(fs::path(got) / rel)) << rel;
    if (f.is_regular_file()) {
      EXPECT_EQ(ReadFile(f.path()), ReadFile(fs::path(got) / rel)) << rel;
      ++files;
    }
  }
  EXPECT_EQ(files, 4u);
  for (const auto& f : fs::recursive_directory_iterator(got))
    EXPECT_EQ(f.path().filename().string().find(".tessera-"), std::string::npos) << f.path();
}

class Extract : public ::testing::Test {
 protected:
  void SetUp() override { MakeTree(src_); }
  // Runs a shell command in the source folder and fails on error.
  void Tool(const std::string& command) {
    const CommandResult r = RunCommand(command, src_);
    ASSERT_EQ(r.Status, 0) << command << "\n" << r.Output;
  }
  std::string Fresh(const std::string& name) {
    const std::string d = tmp_ / name;
    fs::create_directories(d);
    return d;
  }
  TempDir tmp_;
  std::string src_ = tmp_ / "src";
  Sluice lib_{kLib};
};

// Info-ZIP's stored and deflated trees (the other methods have their own tests), and 7-Zip's
// WinZip AES of every key length over stored and deflated data.
TEST_F(Extract, PeerArchivesAndAesOfEveryStrengthComeOutByteForByte) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"zip-stored.zip", "zip -qr0 ../zip-stored.zip ."},
      {"zip-deflated.zip", "zip -qr9 ../zip-deflated.zip ."},
  };
  for (const char* strength : {"128", "192", "256"})
    for (const char* method : {"Copy", "Deflate"}) {
      const std::string name = std::string("aes") + strength + method + ".zip";
      cases.emplace_back(name, std::string("7zz a -bd -tzip -mm=") + method + " -mem=AES" + strength + " -psecret ../" +
                                   name + " . >/dev/null");
    }
  for (const auto& [name, command] : cases) {
    SCOPED_TRACE(name);
    Tool(command);
    const std::string out = Fresh("out-" + name);
    const Outcome o = lib_.Run({.archive = tmp_ / name, .password = "secret"}, out);
    EXPECT_TRUE(o.Messages().empty()) << o.AllMessages();
    ExpectSameTree(src_, out);
    const Outcome t = lib_.Run({.archive = tmp_ / name, .password = "secret", .test = true}, out);
    EXPECT_EQ(t.count, o.count);
    EXPECT_EQ(t.count, 6);  // four files and two folders
  }
  // Times and modes of Info-ZIP's Unix attributes.
  struct stat a{}, b{};
  ASSERT_EQ(::stat((src_ + "/text.txt").c_str(), &a), 0);
  ASSERT_EQ(::stat((tmp_ / "out-zip-deflated.zip/text.txt").c_str(), &b), 0);
  EXPECT_EQ(b.st_mode & 07777, 0750u);
  EXPECT_EQ(a.st_mtime, b.st_mtime);
}

TEST_F(Extract, PasswordsAskedThroughTheCallback) {
  Tool("zip -qr -P secret ../trad.zip text.txt sub");
  Tool("7zz a -bd -tzip -mem=AES256 -psecret ../aes.zip text.txt sub >/dev/null");
  Tool("7zz a -bd -tzip -mm=Deflate64 -mem=AES128 -psecret ../aes64.zip text.txt sub >/dev/null");
  Tool("7zz a -bd -tzip -mm=Deflate64 -mem=ZipCrypto -psecret ../trad64.zip text.txt sub >/dev/null");
  for (const std::string name : {"trad.zip", "aes.zip", "aes64.zip", "trad64.zip"}) {
    SCOPED_TRACE(name);
    // Unattended: the callback writes nothing; every file fails with a coded message.
    Request q{.archive = tmp_ / name, .test = true, .attended = false};
    Outcome o = lib_.Run(q, tmp_.Path());
    EXPECT_LE(o.count, 3);  // the folders, and the empty file where it is not encrypted
    EXPECT_TRUE(o.HasMessage(kLibErrPassword, "text.txt: ")) << o.AllMessages();
    // A wrong password given up front, then a cancel: still a short count. One wrong password
    // in 256 passes the traditional check byte, so a few are tried.
    q.onPassword = [](const std::string&, std::string&) { return -1; };
    Outcome wrong;
    for (int n = 0; n < 4 && !wrong.HasMessage(kLibErrPassword, "text.txt: wrong password"); ++n) {
      q.password = "wrong" + std::to_string(n);
      wrong = lib_.Run(q, tmp_.Path());
      EXPECT_LE(wrong.count, 3);
    }
    EXPECT_TRUE(wrong.HasMessage(kLibErrPassword, "text.txt: wrong password")) << wrong.AllMessages();
    // Answered right once: the password serves the following entries too.
    int asked = 0;
    q.onPassword = [&](const std::string&, std::string& answer) {
      ++asked;
      answer = "secret";
      return 0;
    };
    const std::string out = Fresh("out-" + name);
    q.test = false;
    o = lib_.Run(q, out);
    EXPECT_EQ(o.count, 6) << o.AllMessages();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadFile(out + "/text.txt"), ReadFile(src_ + "/text.txt"));
    EXPECT_EQ(ReadFile(out + "/sub/random.bin"), ReadFile(src_ + "/sub/random.bin"));
  }
}

TEST_F(Extract, SpecificationsOverwriteAndFreshen) {
  Tool("zip -qr ../a.zip .");
  Request q{.archive = tmp_ / "a.zip", .specs = {"*.txt", "nothing*"}, .dirNames = false};
  const std::string out = Fresh("out");
  Outcome o = lib_.Run(q, out);
  EXPECT_EQ(o.count, 2);
  EXPECT_TRUE(o.HasMessage(kLibErrNoMatch, "nothing*: no file matches")) << o.AllMessages();
  EXPECT_TRUE(fs::exists(out + "/one.txt"));  // bare names without folders
  EXPECT_FALSE(fs::exists(out + "/sub"));

  // Without overwrite an existing file is kept and reported.
  WriteFile(out + "/one.txt", "mine");
  o = lib_.Run(q, out);
  EXPECT_EQ(o.count, 0);
  EXPECT_TRUE(o.HasMessage(kLibErrExists, "sub/deep/one.txt: ")) << o.AllMessages();
  EXPECT_EQ(ReadFile(out + "/one.txt"), "mine");

  // Freshen replaces only older files, and makes no new ones.
  fs::remove(out + "/text.txt");
  const timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (out + "/one.txt").c_str(), old, 0), 0);
  q.freshen = true;
  o = lib_.Run(q, out);
  EXPECT_EQ(o.count, 1) << o.AllMessages();
  EXPECT_EQ(ReadFile(out + "/one.txt"), "one\n");
  EXPECT_FALSE(fs::exists(out + "/text.txt"));
  o = lib_.Run(q, out);  // now it is as new as the entry
  EXPECT_EQ(o.count, 0);
  EXPECT_EQ(o.Messages().size(), 1u) << o.AllMessages();  // only the unmatched specification
}

TEST_F(Extract, CallbackOrderProgressAndCancel) {
  Tool("zip -qr ../a.zip .");
  Request q{.archive = tmp_ / "a.zip", .test = true};
  Outcome o = lib_.Run(q, tmp_.Path());
  ASSERT_GE(o.calls.size(), 3u);
  EXPECT_EQ(o.calls[0].action, kActionTotalSize);
  EXPECT_EQ(o.calls[1].action, kActionTotalFiles);
  EXPECT_EQ(o.calls[1].size, 6);
  EXPECT_EQ(o.calls.back().action, kActionEndOfBatch);
  int64_t progress = 0, files = 0;
  for (const Call& c : o.calls) {
    if (c.action == kActionProgress) {
      EXPECT_LE(c.size, 1 << 20);
      progress += c.size;
    }
    files += c.action == kActionNewFile;
  }
  EXPECT_EQ(progress, o.calls[0].size);
  EXPECT_EQ(files, 6);

  // A -1 from the first progress report stops the batch at once, leaving no partial file.
  ASSERT_EQ(RunCommand("head -c 100M /dev/zero | zip -q1 big.zip -", tmp_.Path().string()).Status, 0);
  q.archive = tmp_ / "big.zip";
  q.test = false;
  q.onCall = [](const Call& c) { return c.action == kActionProgress ? -1 : 0; };
  const std::string out = Fresh("out");
  o = lib_.Run(q, out);
  EXPECT_EQ(o.count, 0);
  EXPECT_EQ(o.calls.back().action, kActionProgress);
  EXPECT_TRUE(fs::is_empty(out));
}

TEST(SluiceLayouts, OlderVariantReadsItsRecordAndTraces) {
  TempDir tmp;
  WriteFile(tmp / "f.txt", "data");
  ASSERT_EQ(RunCommand("zip -q a.zip f.txt", tmp.Path().string()).Status, 0);
  for (const auto& [path, version] : {std::pair{kLib, 154}, std::pair{std::string(SLUICE_OLDER_LIBRARY), 151}}) {
    Sluice lib(path);
    ASSERT_EQ(lib.Version(), version);
    const Outcome o = lib.Run(
        {.archive = tmp / "a.zip", .specs = {"nomatch", "f.*"}, .password = "abc", .test = true, .trace = true},
        tmp.Path());
    EXPECT_EQ(o.count, 1);
    const auto m = o.Messages();
    ASSERT_GE(m.size(), 19u);
    EXPECT_EQ(m[0].second, "Trace: Version=" + std::to_string(version) +
                               (version == 154 ? " Layout=current" : " Layout=older"));
    EXPECT_EQ(m[5].second, "Trace: PasswordText=3");
    EXPECT_EQ(m[17].second, "Trace: Spec[1]=f.*");
  }
}

}  // namespace
