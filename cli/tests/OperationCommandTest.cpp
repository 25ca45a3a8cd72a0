// tessera-cli add, extract, test and delete: exit statuses, output, and the libraries
// found beside the program.

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

  // Longer than the 80 bytes the libraries take: refused, not cut to a password nobody typed.
  r = Cli("add -q -e -P " + std::string(81, 'x') + " long.zip tree", dir.Path());
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("longer than 80 bytes"), std::string::npos) << r.Output;
  EXPECT_FALSE(fs::exists(dir.Path() / "long.zip"));

  // One byte changed in the middle of the stored data: the CRC no longer matches.
  ASSERT_EQ(Cli("add -q -0 -r plain.zip tree", dir.Path()).Status, 0);
  std::string bytes = ReadFile(dir / "plain.zip");
  bytes[bytes.size() / 3] ^= 0x55;
  WriteFile(dir / "plain.zip", bytes);
  r = Cli("test plain.zip", dir.Path());
  EXPECT_EQ(r.Status, 1) << r.Output;
}
