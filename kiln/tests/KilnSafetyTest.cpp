// Whatever goes wrong while adding, the archive on disk stays as it was and nothing of
// ours is left beside it; the record layouts and the trace.

#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

using namespace kilntest;

namespace {

class KilnSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(t / "w/in");
    for (int i = 0; i < 3; ++i) WriteFile(t / ("w/in/r" + std::to_string(i) + ".bin"), RandomBytes(600000, i));
    WriteFile(t / "w/in/small.txt", "small\n");
    WriteFile(t / "w/first.txt", TextBytes(20000, 5));
    InDir here(t / "w");
    ASSERT_EQ(kiln.Run(archive, {"first.txt", "in/small.txt"}, Options{}).result, 2);
    before = ReadFile(archive);
    listing = NamesIn(t / "w");
  }

  void ExpectUntouched() {
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(NamesIn(t / "w"), listing);
  }

  // An add of "in", recursed, with -m when `move`.
  Outcome AddIn(const std::function<int32_t(CallbackRecord&)>& onCallback = nullptr, bool move = false) {
    InDir here(t / "w");
    return kiln.Run(archive, {"in"}, Options{.recurse = true, .move = move, .onCallback = onCallback});
  }

  TempDir t;
  Kiln kiln{CurrentLibrary()};
  std::string archive = t / "w/archive.zip";
  std::string before;
  std::vector<std::string> listing;
};

TEST_F(KilnSafety, CancelAtEachHeartbeatOfADeleteChangesNothing) {
  // Every heartbeat reaches the component, as on a slow machine: a cancel at each of them,
  // from the start of the copy to just before the commit, leaves the archive whole.
  SeamsInForce seams(kiln, Seams(0));
  for (int at = 1; at <= 3; ++at) {
    SCOPED_TRACE(at);
    int beats = 0;
    auto cancel = [&](CallbackRecord& r) { return r.ActionCode == kActionProgress && !r.FileSize64 && ++beats == at ? -1 : 0; };
    Outcome out = kiln.Run(archive, {"first.txt"}, Options{.deleteOn = true, .onCallback = cancel});
    EXPECT_EQ(out.result, 0);
    ASSERT_FALSE(out.events.empty());
    EXPECT_EQ(out.events.back().action, kActionProgress);
    EXPECT_EQ(out.events.back().size, 0);
    ExpectUntouched();
  }
}

TEST_F(KilnSafety, CancelFailingWriteAndKillLeaveTheOldArchive) {
  // A cancel from the callback: nothing reported after it, no source moved.
  int progress = 0;
  Outcome out = AddIn([&](CallbackRecord& r) { return r.ActionCode == kActionProgress && ++progress == 3 ? -1 : 0; }, true);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.events.back().action, kActionProgress);
  ExpectUntouched();
  EXPECT_TRUE(std::ifstream(t / "w/in/r0.bin").good());

  // A file size limit below what the new archive needs: the write fails.
  int status = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{before.size() + 200000, before.size() + 200000};
    setrlimit(RLIMIT_FSIZE, &limit);
    Outcome out = AddIn();
    return out.result == 0 && (out.HasError(kLibErrWrite, "archive") || out.HasError(kLibErrDiskFull, "archive")) ? 0 : 1;
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ExpectUntouched();

  // Killed in the middle of writing, after megabytes went out.
  int newFiles = 0;
  status = InChild([&] {
    AddIn([&](CallbackRecord& r) { return r.ActionCode == kActionNewFile && ++newFiles == 3 ? raise(SIGKILL) : 0; });
    return 0;
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  ExpectUntouched();
}

TEST_F(KilnSafety, SourceThatVanishesOrShrinksIsReportedAndTheRestIsAdded) {
  InDir here(t / "w");
  Options o{.noDirEntries = true, .recurse = true, .onCallback = [&](CallbackRecord& r) {
              if (r.ActionCode == kActionTotalSize) {  // after the walk, before any reading
                unlink((t / "w/in/r1.bin").c_str());
                truncate((t / "w/in/r2.bin").c_str(), 1000);
              }
              return 0;
            }};
  Outcome out = kiln.Run(archive, {"in"}, o);
  EXPECT_EQ(out.result, 2) << testing::PrintToString(out.Errors());
  EXPECT_TRUE(out.HasError(kLibErrRead, "in/r1.bin"));
  EXPECT_TRUE(out.HasError(kLibErrRead, "in/r2.bin"));
  EXPECT_EQ(RunCommand("unzip -Z1 " + Quote(archive)).Output, "first.txt\nin/small.txt\nin/r0.bin\n");
  EXPECT_EQ(PythonCompare(archive, t / "w"), "OK\n");
}

// The fields of either layout reach the library: level, no folder entries, a password that
// does not encrypt, and the names; the trace says which layout was read.
TEST_F(KilnSafety, BothLayoutsAddAlike) {
  Kiln older(OlderLibrary());
  InDir here(t / "w");
  const Options o{.trace = true, .noDirEntries = true, .recurse = true, .level = 0, .password = "sixsix"};
  for (const auto& [library, layout] : {std::pair{&kiln, "Layout=current"}, std::pair{&older, "Layout=older"}}) {
    SCOPED_TRACE(layout);
    Outcome out = library->Run(t / "x.zip", {"in", "first.txt"}, o);
    EXPECT_EQ(out.result, 5);
    ASSERT_FALSE(out.events.empty());
    EXPECT_NE(out.events[0].text.find(layout), std::string::npos) << out.events[0].text;
    EXPECT_EQ(Python("import sys, zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                     "    print(i.filename, i.compress_type, i.flag_bits & 1)",
                     {t / "x.zip"}),
              "in/r0.bin 0 0\nin/r1.bin 0 0\nin/r2.bin 0 0\nin/small.txt 0 0\nfirst.txt 0 0\n");
    EXPECT_EQ(PythonCompare(t / "x.zip", t / "w"), "OK\n");
    unlink((t / "x.zip").c_str());
  }
}

}  // namespace
