// tessera-cli span and join, and what every command does when its output cannot be
// written.

#include "CliTest.h"

namespace {

// About 300 kB of stored noise in three entries.
std::string MakeArchive(const TempDir& dir) {
  Python("import random, sys, zipfile\nr = random.Random(5)\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    for k in range(3): z.writestr('f%d' % k, r.randbytes(100000))\n",
         {dir / "in.zip"});
  return dir / "in.zip";
}

}  // namespace

// Output that cannot be written fails the command with a message: standard output of
// list, and the volumes and joined file of span and join, which are then taken back.
TEST(SpanCommands, WritesPastAFileSizeLimit) {
  TempDir dir;
  MakeArchive(dir);
  CommandResult r = Cli("list in.zip > listing.txt", dir.Path(), "0");
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("tessera-cli: cannot write the output"), std::string::npos) << r.Output;

  fs::create_directory(dir.Path() / "set");
  r = Cli("span -s 1m in.zip set/s.zip", dir.Path(), "100");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Output, "Write error in output file\n");
  EXPECT_TRUE(NamesIn(dir.Path() / "set").empty());

  r = Cli("span -s 120k in.zip set/s.zip", dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  ASSERT_EQ(NamesIn(dir.Path() / "set"), (std::vector<std::string>{"s001.zip", "s002.zip", "s003.zip"}));
  fs::create_directory(dir.Path() / "out");
  r = Cli("join set/s003.zip out/", dir.Path(), "100");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Output, "Write error in output file\n");
  EXPECT_TRUE(NamesIn(dir.Path() / "out").empty());
}

// On a hard disk the messages tell what is wrong; nobody is asked to change disks.
TEST(SpanCommands, HardDiskReasonsAndNames) {
  TempDir dir;
  MakeArchive(dir);
  fs::create_directory(dir.Path() / "set");
  WriteFile(dir / "set/s002.zip", "older");
  CommandResult r = Cli("span -s 150k in.zip set/s.zip", dir.Path());
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Output, "There is already a file set/s002.zip\nDo you want to overwrite this file\n");
  EXPECT_EQ(ReadFile(dir / "set/s002.zip"), "older");
  EXPECT_EQ(NamesIn(dir.Path() / "set"), std::vector<std::string>{"s002.zip"});
  fs::remove(dir / "set/s002.zip");

  // Volumes smaller than the minimum free space are fine where the disk has the room.
  r = Cli("span -v -s 40k in.zip set/.hidden", dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(r.Output.rfind("Now creating spanning chunks from in.zip to set/.hidden\n", 0), 0u) << r.Output;
  EXPECT_NE(r.Output.find("Copying: f1\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "set/.hidden001"));
  ASSERT_TRUE(fs::exists(dir / "set/.hidden008"));
  r = Cli("join set/.hidden008 joined.zip", dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(ReadFile(dir / "joined.zip"), ReadFile(dir / "in.zip"));

  r = Cli("join in.zip other.zip", dir.Path());
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Output, "in.zip holds a whole archive, not the last volume of a multi-volume set\n");
  EXPECT_FALSE(fs::exists(dir / "other.zip"));
}
