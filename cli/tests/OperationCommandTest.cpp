// tessera-cli add, extract, test and delete: exit statuses, output, and the libraries
// found beside the program.

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "CliTest.h"

namespace {

void MakeTree(const TempDir& dir) {
  fs::create_directories(dir.Path() / "tree/sub");
  std::string bytes;
  for (uint32_t i = 0; i < 200000; ++i) bytes += char((i * 2654435761u) >> 19);
  WriteFile(dir / "tree/bytes.bin", bytes);
  WriteFile(dir / "tree/sub/a.txt", std::string(50000, 'a') + "end\n");
}

}  // namespace

TEST(OperationCommands, RoundTripAndExitStatuses) {
  TempDir dir;
  MakeTree(dir);
  CommandResult r = Cli("add -q -r -6 out.zip tree", dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_NE(r.Output.find("added: 4"), std::string::npos) << r.Output;  // two folders, two files
  EXPECT_EQ(RunCommand("unzip -tq out.zip", dir.Path().string()).Status, 0);

  r = Cli("test out.zip", dir.Path());
  EXPECT_EQ(r.Status, 0) << r.Output;
  r = Cli("extract -q -d x out.zip", dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(ReadFile(dir / "x/tree/bytes.bin"), ReadFile(dir / "tree/bytes.bin"));
  EXPECT_EQ(ReadFile(dir / "x/tree/sub/a.txt"), ReadFile(dir / "tree/sub/a.txt"));
  // Existing files are kept without -o: nothing extracted is a failure.
  EXPECT_EQ(Cli("extract -q -d x out.zip tree/sub/a.txt", dir.Path()).Status, 1);
  EXPECT_EQ(Cli("extract -qo -d x out.zip tree/sub/a.txt", dir.Path()).Status, 0);

  r = Cli("add -q out.zip missing.txt", dir.Path());
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("missing.txt"), std::string::npos) << r.Output;
  EXPECT_EQ(Cli("delete out.zip no/such", dir.Path()).Status, 1);
  r = Cli("delete -q out.zip tree/bytes.bin", dir.Path());
  EXPECT_EQ(r.Status, 0) << r.Output;
  EXPECT_NE(r.Output.find("deleted: 1"), std::string::npos) << r.Output;
  EXPECT_EQ(Cli("add --level 5 out.zip tree", dir.Path()).Status, 2);
  EXPECT_EQ(Cli("extract", dir.Path()).Status, 2);
  EXPECT_EQ(Cli("test missing.zip", dir.Path()).Status, 1);

  // A result that cannot be written is a failure too.
  r = RunCommand("trap '' XFSZ; ulimit -f 0; " + Quote(kCli) + " test out.zip >result.txt", dir.Path().string());
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("standard output"), std::string::npos) << r.Output;
}

TEST(OperationCommands, DamageAndPasswordsFailTheTest) {
  TempDir dir;
  MakeTree(dir);
  ASSERT_EQ(Cli("add -q -e -P secret -r enc.zip tree", dir.Path()).Status, 0);
  EXPECT_EQ(RunCommand("unzip -tqP secret enc.zip", dir.Path().string()).Status, 0);
  EXPECT_EQ(Cli("test -P secret enc.zip", dir.Path()).Status, 0);
  CommandResult r = Cli("test -P wrong enc.zip", dir.Path());
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("tested: 2 of 4"), std::string::npos) << r.Output;  // the folders pass

  // One byte changed in the middle of the stored data: the CRC no longer matches.
  ASSERT_EQ(Cli("add -q -0 -r plain.zip tree", dir.Path()).Status, 0);
  std::string bytes = ReadFile(dir / "plain.zip");
  bytes[bytes.size() / 3] ^= 0x55;
  WriteFile(dir / "plain.zip", bytes);
  r = Cli("test plain.zip", dir.Path());
  EXPECT_EQ(r.Status, 1) << r.Output;
}

// As a user who may not enter the extract folder (another user's, mode 0700): the extract
// stops before writing anything, also into the folder it was started in.
TEST(OperationCommands, AnExtractFolderThatCannotBeEnteredStopsTheExtract) {
  TempDir dir;
  MakeTree(dir);
  ASSERT_EQ(Cli("add -q -r a.zip tree", dir.Path()).Status, 0);
  fs::create_directories(dir.Path() / "here");
  fs::create_directories(dir.Path() / "locked");
  fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir.Path() / "here", fs::perms::all);
  fs::permissions(dir.Path() / "locked", fs::perms::owner_all);
  WriteFile(dir / "log", "");
  fs::permissions(dir.Path() / "log", fs::perms::all);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Root enters any folder: the run takes the unused id 65534.
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                             ::setresuid(65534, 65534, 65534) != 0))
      ::_exit(77);
    const int log = ::open((dir / "log").c_str(), O_WRONLY);
    if (log < 0 || ::chdir((dir / "here").c_str()) != 0) ::_exit(78);
    ::dup2(log, 1), ::dup2(log, 2);
    ::execl(kCli.c_str(), kCli.c_str(), "extract", "-q", "-d", "../locked", "../a.zip", nullptr);
    ::_exit(79);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot take the id 65534: " << std::strerror(EPERM);
  const std::string log = ReadFile(dir / "log");
  EXPECT_EQ(WEXITSTATUS(status), 1) << log;
  EXPECT_NE(log.find("cannot extract into the folder ../locked: Permission denied"), std::string::npos) << log;
  EXPECT_TRUE(fs::is_empty(dir.Path() / "here"));
  EXPECT_TRUE(fs::is_empty(dir.Path() / "locked"));
}

// A close() that reports an error (a network file system's failed write-back) fails the
// file: it is not left under its name.
TEST(OperationCommands, AFailedCloseFailsTheFile) {
  TempDir dir;
  MakeTree(dir);
  ASSERT_EQ(Cli("add -q -r a.zip tree", dir.Path()).Status, 0);
  const CommandResult r = RunCommand("LD_PRELOAD=" + Quote(TESSERA_CLOSE_EIO_SHIM) + " TESSERA_SHIM_EIO_BELOW=" +
                                         Quote(dir / "x/tree/sub/") + " " + Quote(kCli) + " extract -q -d x a.zip",
                                     dir.Path().string());
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("tree/sub/a.txt: write error: Input/output error"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("extracted: 3"), std::string::npos) << r.Output;
  EXPECT_TRUE(fs::is_empty(dir.Path() / "x/tree/sub"));
  EXPECT_EQ(ReadFile(dir / "x/tree/bytes.bin"), ReadFile(dir / "tree/bytes.bin"));
}

// Each of these names what is wrong.
TEST(OperationCommands, MessagesNameWhatIsWrong) {
  TempDir dir;
  struct Case {
    const char *archive, *command, *message;
  };
  for (const Case& c : {Case{"empty", "test", "holds no entries"}, Case{"empty", "extract", "holds no entries"},
                        Case{"short-encrypted", "test -P pw", "e: the entry is shorter than its encryption header"},
                        Case{"damaged-signature", "test", "damaged-signature.zip: the archive's directory cannot be read"},
                        Case{"damaged-size", "test", "damaged-size.zip: the archive's directory cannot be read"},
                        Case{"damaged-count", "extract", "damaged-count.zip: the archive's directory cannot be read"}}) {
    SCOPED_TRACE(std::string(c.archive) + " " + c.command);
    Crafted(c.archive, dir / (std::string(c.archive) + ".zip"));
    const CommandResult r = Cli(std::string(c.command) + " " + c.archive + ".zip", dir.Path());
    EXPECT_EQ(r.Status, 1) << r.Output;
    EXPECT_NE(r.Output.find(c.message), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("no zip file specified"), std::string::npos) << r.Output;
  }
}
