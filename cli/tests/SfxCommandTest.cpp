// tessera-cli sfx and unsfx, with the stub the build puts beside the program.

#include "CliTest.h"

namespace {

std::string MakeZip(const TempDir& dir) {
  WriteFile(dir / "a.txt", std::string(40000, 'a'));
  EXPECT_EQ(RunCommand("zip -q x.zip a.txt && rm a.txt", dir.Path()).Status, 0);
  return dir / "x.zip";
}

}  // namespace

TEST(SfxCommands, ConvertAndReport) {
  TempDir dir;
  const std::string zip = MakeZip(dir), original = ReadFile(zip);
  CommandResult r = Cli("sfx --no-trash --caption Hi --auto-run --overwrite never " + Quote(zip));
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(r.Output, "sfx: result 0\narchive: " + dir / "x.exe" + "\n");
  const std::string stub = ReadFile((fs::path(kCli).parent_path() / "Stubby.bin").string());
  const std::string exe = ReadFile(dir / "x.exe");
  ASSERT_GT(stub.size(), 0u);
  EXPECT_EQ(exe.substr(0, stub.size()), stub);
  EXPECT_EQ(exe.substr(stub.size(), 9), std::string("MPU\x50\x02\x00\x00Hi", 9));

  r = Cli("unsfx --no-trash " + Quote(dir / "x.exe"));
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(r.Output, "unsfx: result 0\narchive: " + zip + "\n");
  EXPECT_EQ(ReadFile(zip), original);
  EXPECT_EQ(Cli("sfx --overwrite sometimes " + Quote(zip)).Status, 2);

  // A name with control characters is reported in a visible form.
  fs::copy_file(zip, dir / "e\x1b[1m.zip");
  r = Cli("sfx --no-trash " + Quote(dir / "e\x1b[1m.zip"));
  EXPECT_EQ(r.Output, "sfx: result 0\narchive: " + dir / "e\\x1b[1m.exe" + "\n");
}
