// The world changing while an add or delete runs: sources rewritten or renamed over, the
// archive replaced, a second writer, a signal, a user who may not write the archive. Each
// ends with an archive every peer reads and no file lost.

#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

using namespace kilntest;

namespace {

constexpr long kOldTime = 1600000000;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& n : NamesIn(dir))
    if (n.find(".kiln-") != std::string::npos) found.push_back(n);
  return found;
}

class KilnChanges : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(t / "w");
    big = TextBytes(2500000, 1);  // several blocks
    PutBack();
    WriteFile(t / "w/small.txt", "small\n");
    WriteFile(t / "w/other.txt", TextBytes(700000, 2));
  }

  // Runs `change` once, after the first block of big.txt was read and before any other block is.
  KilnTestSeams AfterFirstBlock(std::function<void()> change) {
    change_ = std::move(change);
    auto after = [](void* self, const char* path, uint64_t offset, uint64_t length) {
      auto* me = static_cast<KilnChanges*>(self);
      if (offset == 0 && std::string(path).find("big.txt") != std::string::npos && me->change_) {
        me->firstBlock_ = length;
        std::exchange(me->change_, nullptr)();
      }
    };
    return {after, this, -1, -1, 0};
  }

  void PutBack() {
    WriteFile(t / "w/big.txt", big);
    SetTime(t / "w/big.txt", kOldTime);
  }

  TempDir t;
  Kiln kiln{CurrentLibrary()};
  std::string archive = t / "w/a.zip";
  std::string big;
  std::function<void()> change_;
  uint64_t firstBlock_ = 0;
};

TEST_F(KilnChanges, SourceRewrittenBetweenBlocksIsStoredAsReadOrLeftOut) {
  InDir here(t / "w");
  // Rewritten with its time put back: nothing shows the change, so the entry is kept, and it
  // must hold exactly the bytes read, the first block old and the rest new.
  std::string rewritten = TextBytes(big.size(), 9);
  {
    SeamsInForce seams(kiln, AfterFirstBlock([&] {
                         WriteFile(t / "w/big.txt", rewritten);
                         SetTime(t / "w/big.txt", kOldTime);
                       }));
    Outcome out = kiln.Run(archive, {"big.txt"}, Options{});
    EXPECT_EQ(out.result, 1) << testing::PrintToString(out.Errors());
  }
  EXPECT_EQ(PeerComplaints(archive), "");
  ASSERT_GT(firstBlock_, 0u);
  ASSERT_LT(firstBlock_, big.size());
  EXPECT_EQ(Unzipped(archive, "big.txt"), big.substr(0, firstBlock_) + rewritten.substr(firstBlock_));

  // Rewritten as anyone would: reported, left out, and with -m kept; the rest goes in and moves.
  PutBack();
  SeamsInForce seams(kiln, AfterFirstBlock([&] { WriteFile(t / "w/big.txt", rewritten); }));
  Outcome out = kiln.Run(t / "w/m.zip", {"big.txt", "small.txt"}, Options{.move = true});
  EXPECT_EQ(out.result, 1);
  EXPECT_TRUE(out.HasError(kLibErrRead, "big.txt: changed while it was read")) << testing::PrintToString(out.Errors());
  EXPECT_EQ(ReadFile(t / "w/big.txt"), rewritten);
  EXPECT_FALSE(Exists(t / "w/small.txt"));
  EXPECT_EQ(Names(t / "w/m.zip"), std::set<std::string>{"small.txt"});
  EXPECT_EQ(PeerComplaints(t / "w/m.zip"), "");

  // Changed once added, before it is moved (here as the add reports it): kept, and said so.
  WriteFile(t / "w/small.txt", "small\n");
  Outcome late = kiln.Run(t / "w/late.zip", {"small.txt"}, {.verbose = true, .move = true, .onCallback = [&](CallbackRecord& r) {
    if (r.ActionCode == kActionMessage && std::string(r.Text).find("small.txt: added") != std::string::npos)
      WriteFile(t / "w/small.txt", "changed\n");
    return 0;
  }});
  EXPECT_TRUE(late.HasError(kLibErrWrite, "small.txt: changed after it was added, not removed"))
      << testing::PrintToString(late.Errors());
  EXPECT_EQ(ReadFile(t / "w/small.txt"), "changed\n");
}

TEST_F(KilnChanges, SourceRenamedOverMidAddIsNeitherMixedNorMoved) {
  InDir here(t / "w");
  const std::string other = ReadFile(t / "w/other.txt");
  for (int level : {6, 0}) {  // deflated by the workers, and stored
    SCOPED_TRACE(level);
    PutBack();
    WriteFile(t / "w/other.txt", other);
    WriteFile(t / "w/small.txt", "small\n");
    SeamsInForce seams(kiln, AfterFirstBlock([&] { rename((t / "w/other.txt").c_str(), (t / "w/big.txt").c_str()); }));
    const std::string out = t / ("w/r" + std::to_string(level) + ".zip");
    Outcome outcome = kiln.Run(out, {"big.txt", "small.txt"}, Options{.move = true, .level = level});
    EXPECT_EQ(outcome.result, 1);
    EXPECT_TRUE(outcome.HasError(kLibErrRead, "big.txt: changed while it was read"))
        << testing::PrintToString(outcome.Errors());
    EXPECT_EQ(PeerComplaints(out), "");
    EXPECT_EQ(Names(out), std::set<std::string>{"small.txt"});
    EXPECT_EQ(ReadFile(t / "w/big.txt"), other);  // never added, so not moved
  }
}

TEST_F(KilnChanges, ArchiveReplacedBeforeTheCommitIsLeftAsTheOtherProgramWroteIt) {
  InDir here(t / "w");
  ASSERT_EQ(RunCommand("zip -q other.zip other.txt && zip -q a.zip small.txt other.txt").Status, 0);
  const std::string theirs = ReadFile(t / "w/other.zip");
  // A delete (the directory read, then the kept entries copied) and an add, each with another
  // program's archive put in place after the directory was read.
  for (int run = 0; run < 2; ++run) {
    WriteFile(t / "w/theirs.zip", theirs);
    const int32_t when = run == 0 ? kActionNewFile : kActionTotalSize;
    const char* name = run == 0 ? "small.txt" : "big.txt";
    Outcome out = kiln.Run(archive, {name}, {.deleteOn = run == 0, .onCallback = [&](CallbackRecord& r) {
      if (r.ActionCode == when) rename((t / "w/theirs.zip").c_str(), archive.c_str());
      return 0;
    }});
    EXPECT_EQ(out.result, 0) << run;
    EXPECT_TRUE(out.HasError(kLibErrWrite, "changed by another program")) << testing::PrintToString(out.Errors());
    EXPECT_EQ(ReadFile(archive), theirs);
    EXPECT_TRUE(Temporaries(t / "w").empty());
  }
  // Nothing was there when the directory was read, and something is at the commit.
  unlink(archive.c_str());
  Outcome out = kiln.Run(archive, {"small.txt"}, {.onCallback = [&](CallbackRecord& r) {
    if (r.ActionCode == kActionTotalSize) WriteFile(archive, "their file");
    return 0;
  }});
  EXPECT_TRUE(out.HasError(kLibErrWrite, "changed by another program"));
  EXPECT_EQ(ReadFile(archive), "their file");
}

TEST_F(KilnChanges, TwoWritersLandOneAfterTheOther) {
  InDir here(t / "w");
  // To a new archive, then to one that exists. The second writer starts while the first holds
  // the archive, after its directory was read, and the first goes on once the second waits
  // (or, without a lock, once it is done).
  for (bool exists : {false, true}) {
    unlink(archive.c_str());
    if (exists) {
      ASSERT_EQ(kiln.Run(archive, {"small.txt"}, Options{}).result, 1);
    }
    std::promise<void> waiting;  // outlives the second writer's thread
    std::future<Outcome> second;
    Outcome one = kiln.Run(archive, {"big.txt"}, {.onCallback = [&](CallbackRecord& r) {
      if (r.ActionCode != kActionTotalSize || second.valid()) return 0;
      second = std::async(std::launch::async, [&] {
        bool told = false;
        Outcome out = kiln.Run(archive, {"other.txt"}, {.onCallback = [&](CallbackRecord& rec) {
          if (!told && rec.ActionCode == kActionMessage && std::string(rec.Text).find("waiting") != std::string::npos) {
            told = true;
            waiting.set_value();
          }
          return 0;
        }});
        if (!told) waiting.set_value();
        return out;
      });
      waiting.get_future().wait();
      return 0;
    }});
    ASSERT_TRUE(second.valid());
    Outcome two = second.get();
    EXPECT_EQ(one.result, 1) << testing::PrintToString(one.Errors());
    EXPECT_EQ(two.result, 1) << testing::PrintToString(two.Errors());
    EXPECT_EQ(RunCommand("unzip -Z1 " + Quote(archive)).Output, std::string(exists ? "small.txt\n" : "") + "big.txt\nother.txt\n");
    EXPECT_EQ(PythonCompare(archive, t / "w"), "OK\n");
    EXPECT_EQ(Temporaries(t / "w"), std::vector<std::string>{});  // the lock of a new archive too
  }

  // A writer that cannot have the archive within its wait says so and writes nothing.
  const std::string before = ReadFile(archive);
  int fd = open(archive.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  SeamsInForce seams(kiln, Seams(-1, 0));
  Outcome locked = kiln.Run(archive, {"small.txt"}, Options{.deleteOn = true});
  close(fd);
  EXPECT_EQ(locked.result, 0);
  EXPECT_TRUE(locked.HasError(kLibErrWrite, "in use by another program")) << testing::PrintToString(locked.Errors());
  EXPECT_EQ(ReadFile(archive), before);
}

TEST_F(KilnChanges, NamedTemporariesGoOnSignalsAndWhenTheirProcessIsGone) {
  ASSERT_EQ(kiln.Run(archive, {t / "w/small.txt"}, Options{}).result, 1);
  const std::string before = ReadFile(archive);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const int status = InChild([&] {
      for (int each : {SIGINT, SIGTERM, SIGHUP}) signal(each, SIG_DFL);  // as a shell's foreground job has them
      SeamsInForce seams(kiln, Seams(-1, -1, 1));
      // Reports of data come while the new archive is written.
      kiln.Run(archive, {t / "w/big.txt"}, {.onCallback = [&](CallbackRecord& r) {
                 if (r.ActionCode == kActionProgress && Temporaries(t / "w").size() == 1) raise(sig);
                 return 0;
               }});
      return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    EXPECT_EQ(Temporaries(t / "w"), std::vector<std::string>{}) << sig;
    EXPECT_EQ(ReadFile(archive), before);
  }

  // Left by a process that is gone (a kill -9): removed by the next writer; a living one's stays.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string stale = t / ("w/.a.zip.kiln-" + std::to_string(gone) + "-abcdefgh");
  const std::string living = t / ("w/.a.zip.kiln-" + std::to_string(getppid()) + "-abcdefgh");
  WriteFile(stale, "x");
  WriteFile(living, "x");
  EXPECT_EQ(kiln.Run(archive, {t / "w/other.txt"}, Options{}).result, 1);
  EXPECT_FALSE(Exists(stale));
  EXPECT_TRUE(Exists(living));
}

TEST_F(KilnChanges, ReadOnlyArchiveIsNotReplacedForAUserWhoMayNotWriteIt) {
  // The folder is everyone's, so only the archive's own mode stands in the way.
  ASSERT_EQ(kiln.Run(archive, {t / "w/small.txt"}, Options{}).result, 1);
  ASSERT_EQ(chmod(archive.c_str(), 0444), 0);
  chmod(t.Path().c_str(), 0755);
  chmod((t / "w").c_str(), 0777);
  chmod((t / "w/other.txt").c_str(), 0644);
  const std::string before = ReadFile(archive);
  const int status = InChild([&] {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                           setresuid(65534, 65534, 65534) != 0))
      return 2;
    for (int run = 0; run < 2; ++run) {
      Outcome out = kiln.Run(archive, {run == 1 ? "small.txt" : t / "w/other.txt"}, {.deleteOn = run == 1});
      if (out.result != 0 || !out.HasError(kLibErrWrite, "cannot be changed (Permission denied)")) return 1;
    }
    return 0;
  });
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become user 65534";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not refused, status " << status;
  EXPECT_EQ(ReadFile(archive), before);
}

}  // namespace
