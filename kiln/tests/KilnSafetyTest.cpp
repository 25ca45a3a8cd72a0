// Whatever goes wrong while adding, the archive on disk stays as it was and nothing of
// ours is left beside it; the record layouts and the trace.

#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

using namespace kilntest;

namespace {

bool HasLine(const Outcome& out, const std::string& text) {
  return std::any_of(out.events.begin(), out.events.end(),
                     [&](const Event& e) { return e.action == kActionMessage && e.code == 0 && e.text == text; });
}

class KilnSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(t / "w/in");
    for (int i = 0; i < 3; ++i) WriteFile(t / ("w/in/r" + std::to_string(i) + ".bin"), RandomBytes(600000, i));
    WriteFile(t / "w/in/small.txt", "small\n");
    WriteFile(t / "w/first.txt", TextBytes(20000, 5));
    InDir here(t / "w");
    ASSERT_EQ(kiln.Run(archive, {"first.txt"}, Options{}).result, 1);
    before = ReadFile(archive);
    listing = ListDir(t / "w");
    std::sort(listing.begin(), listing.end());
  }

  void ExpectUntouched() {
    EXPECT_EQ(ReadFile(archive), before);
    auto now = ListDir(t / "w");
    std::sort(now.begin(), now.end());
    EXPECT_EQ(now, listing);
  }

  // Runs an add of "in" in a child process prepared by `setup`; its exit status.
  int AddInChild(const std::function<void()>& setup, const std::function<int32_t(CallbackRecord&)>& onCallback,
                 bool wantWriteError) {
    pid_t pid = fork();
    if (pid == 0) {
      setup();
      InDir here(t / "w");
      Options o;
      o.recurse = true;
      o.onCallback = onCallback;
      Outcome out = kiln.Run(archive, {"in"}, o);
      bool ok = out.result == 0 &&
                (!wantWriteError || out.HasError(kLibErrWrite, "archive") || out.HasError(kLibErrDiskFull, "archive"));
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }

  TempDir t;
  Kiln kiln{CurrentLibrary()};
  std::string archive = t / "w/archive.zip";
  std::string before;
  std::vector<std::string> listing;
};

TEST_F(KilnSafety, CancelFromTheCallbackChangesNothing) {
  InDir here(t / "w");
  Options o;
  o.recurse = true;
  o.move = true;
  int progress = 0;
  o.onCallback = [&](CallbackRecord& r) { return r.ActionCode == kActionProgress && ++progress == 3 ? -1 : 0; };
  Outcome out = kiln.Run(archive, {"in"}, o);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.events.back().action, kActionProgress);  // nothing after the -1
  ExpectUntouched();
  EXPECT_TRUE(std::ifstream(t / "w/in/r0.bin").good());  // not moved
}

TEST_F(KilnSafety, CancelAtEachHeartbeatOfADeleteChangesNothing) {
  {
    InDir here(t / "w");
    ASSERT_EQ(kiln.Run(archive, {"in/small.txt"}, Options{}).result, 1);
    before = ReadFile(archive);
  }
  // Every heartbeat reaches the component, as on a slow machine: a cancel at each of them,
  // from the start of the copy to just before the commit, leaves the archive whole.
  KilnTestSeams s = DefaultSeams();
  s.HeartbeatMs = 0;
  SeamsInForce seams(kiln, s);
  for (int at = 1; at <= 3; ++at) {
    Options o;
    o.deleteOn = true;
    int beats = 0;
    o.onCallback = [&](CallbackRecord& r) {
      return r.ActionCode == kActionProgress && r.FileSize64 == 0 && ++beats == at ? -1 : 0;
    };
    Outcome out = kiln.Run(archive, {"first.txt"}, o);
    EXPECT_EQ(out.result, 0) << at;
    ASSERT_FALSE(out.events.empty());
    EXPECT_EQ(out.events.back().action, kActionProgress) << at;
    EXPECT_EQ(out.events.back().size, 0) << at;
    ExpectUntouched();
  }
}

TEST_F(KilnSafety, FailingWriteAndKillLeaveTheOldArchive) {
  // A file size limit below what the new archive needs: the write fails.
  int status = AddInChild(
      [&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{before.size() + 200000, before.size() + 200000};
        setrlimit(RLIMIT_FSIZE, &limit);
      },
      nullptr, true);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ExpectUntouched();

  // Killed in the middle of writing, after megabytes went out.
  int newFiles = 0;
  status = AddInChild([] {},
                      [&](CallbackRecord& r) {
                        if (r.ActionCode == kActionNewFile && ++newFiles == 3) raise(SIGKILL);
                        return 0;
                      },
                      false);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  ExpectUntouched();
}

TEST_F(KilnSafety, SourceThatVanishesOrShrinksIsReportedAndTheRestIsAdded) {
  InDir here(t / "w");
  Options o;
  o.recurse = true;
  o.noDirEntries = true;
  o.onCallback = [&](CallbackRecord& r) {
    if (r.ActionCode == kActionTotalSize) {  // after the walk, before any reading
      unlink((t / "w/in/r1.bin").c_str());
      truncate((t / "w/in/r2.bin").c_str(), 1000);
    }
    return 0;
  };
  Outcome out = kiln.Run(archive, {"in"}, o);
  EXPECT_EQ(out.result, 2) << testing::PrintToString(out.Errors());
  EXPECT_TRUE(out.HasError(kLibErrRead, "in/r1.bin"));
  EXPECT_TRUE(out.HasError(kLibErrRead, "in/r2.bin"));
  EXPECT_EQ(Shell("unzip -t " + Q(archive)).status, 0);
  EXPECT_EQ(Shell("unzip -Z1 " + Q(archive)).output, "first.txt\nin/r0.bin\nin/small.txt\n");
  EXPECT_EQ(PythonCompare(archive, t / "w"), "OK\n");
}

TEST_F(KilnSafety, BothLayoutsReceiveEveryFieldAndTraceIt) {
  Kiln older(OlderLibrary());
  EXPECT_EQ(kiln.Version(), 154);
  EXPECT_EQ(older.Version(), 150);
  InDir here(t / "w");
  Options o;
  o.trace = true;
  o.recurse = true;
  o.password = "sixsix";
  o.level = 9;
  o.noDirEntries = true;
  Outcome cur = kiln.Run(t / "c.zip", {"in/*.txt", "first.txt"}, o);
  Outcome old = older.Run(t / "o.zip", {"in/*.txt", "first.txt"}, o);
  EXPECT_EQ(cur.result, 2);
  EXPECT_EQ(old.result, 2);
  for (const Outcome* out : {&cur, &old}) {
    for (const char* line : {"Trace: WindowHandle=1", "Trace: RecurseOn=-1", "Trace: PasswordText=6", "Trace: Level=9",
                             "Trace: NoDirEntriesOn=-1", "Trace: EncryptOn=0", "Trace: SpecCount=2", "Trace: Marker=7",
                             "Trace: Spec[0]=in/*.txt", "Trace: Spec[1]=first.txt"})
      EXPECT_TRUE(HasLine(*out, line)) << line;
    EXPECT_EQ(out->events[0].text.rfind("Trace: Version=", 0), 0u);
  }
  EXPECT_EQ(cur.events[0].text, "Trace: Version=154 Layout=current");
  EXPECT_EQ(old.events[0].text, "Trace: Version=150 Layout=older");
  EXPECT_TRUE(HasLine(cur, "Trace: ArchivePath=" + t / "c.zip"));
  EXPECT_TRUE(HasLine(cur, "Trace: TempDirText=(null)"));
  EXPECT_FALSE(HasLine(old, "Trace: TempDirText=(null)"));
  EXPECT_EQ(PythonCompare(t / "o.zip", t / "w"), "OK\n");
  EXPECT_EQ(Shell("unzip -Z1 " + Q(t / "o.zip")).output, "in/small.txt\nfirst.txt\n");
}

}  // namespace
