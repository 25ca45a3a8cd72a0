// Volumes of multi-volume sets: numbered files on a hard disk and labelled disks in a
// simulated removable drive.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "MarlinOp.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

// Opens the component's volume state to the tests.
class TestMarlin : public TMarlin {
 public:
  using TMarlin::TMarlin;
  using TMarlin::fCurrentDiskNo;
  using TMarlin::fDriveRoot;
  using TMarlin::fKilnBusy;
  using TMarlin::fLogicalSize;
  using TMarlin::fNewDiskRequested;
};

// A set split by Info-ZIP whose central directory starts three volumes before the last.
struct SplitSet {
  TempDir dir;
  std::vector<std::string> volumes;  // in order, the last one holding the end record
  std::vector<std::string> names;    // entry names, from Python reading the joined set

  SplitSet() {
    fs::create_directories(dir.Path() / "src/d");
    for (int i = 1; i <= 1500; ++i)
      WriteFile(dir / ("src/d/file_with_a_rather_long_name_number_" + std::to_string(i) + ".txt"),
                "file " + std::to_string(i) + "\n");
    CommandResult r = RunCommand("zip -q -X -s 64k -r ../set.zip d && zip -q -s 0 ../set.zip --out ../joined.zip",
                          (dir.Path() / "src").string());
    EXPECT_EQ(r.Status, 0) << r.Output;
    for (int i = 1;; ++i) {
      const std::string v = dir / ("set.z0" + std::to_string(i));
      if (!fs::exists(v)) break;
      volumes.push_back(v);
    }
    volumes.push_back(dir / "set.zip");
    std::istringstream in(Python("import sys,zipfile\nprint('\\n'.join(zipfile.ZipFile(sys.argv[1]).namelist()))",
                                 {dir / "joined.zip"}));
    for (std::string name; std::getline(in, name);) names.push_back(name);
  }
};

// A removable drive with one disk per volume of the set, labelled as a backup set.
struct SetOnDrive {
  TempDir dir;
  std::shared_ptr<SimulatedVolumeService> volumes = std::make_shared<SimulatedVolumeService>();
  std::string drive = dir / "A";
  std::vector<int> disks;

  explicit SetOnDrive(const SplitSet& set) {
    volumes->AddDrive(drive);
    for (size_t i = 0; i < set.volumes.size(); ++i) {
      char label[32];
      std::snprintf(label, sizeof label, "PKBACK# %03zu", i + 1);
      disks.push_back(volumes->AddDisk(drive, label, 1440 * 1024));
      fs::copy_file(set.volumes[i], volumes->DiskFolder(disks.back()) + "/set.zip");
    }
  }
  std::string Archive() const { return drive + "/set.zip"; }
  std::string Prompt(int volume, int of) const {
    return "Please insert disk volume " + std::to_string(volume) + " of " + std::to_string(of) +
           "\nin drive: " + drive + "/";
  }
};

// Runs `body` in a child process: with `ownMounts` in a mount namespace of its own (every
// mount made there ends with the child), chrooted into `root` when it is given, with /proc
// mounted there when `mountProc`. Returns the child's complaints, or "SKIP: ..." when the
// system does not allow it.
std::string InChild(bool ownMounts, const fs::path& root, bool mountProc, const std::function<std::string()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "SKIP: no pipe";
  const pid_t pid = ::fork();
  if (pid < 0) return "SKIP: no fork";
  if (pid == 0) {
    ::close(pipeFds[0]);
    auto finish = [&](const std::string& report) {
      (void)!::write(pipeFds[1], report.data(), report.size());
      ::_exit(0);
    };
    auto refused = [&](const char* what) { finish(std::string("SKIP: ") + what + ": " + std::strerror(errno)); };
    if (ownMounts) {
      if (::unshare(CLONE_NEWNS) != 0) refused("no mount namespace of our own");
      // Inside a chroot "/" may be no mount point; then nothing here may be mounted
      // without it showing outside.
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) refused("mounts cannot be made private");
    }
    if (!root.empty() && (::chroot(root.c_str()) != 0 || ::chdir("/") != 0)) refused("no chroot");
    if (mountProc && ::mount("proc", "/proc", "proc", 0, nullptr) != 0) refused("cannot mount /proc");
    finish(body());
  }
  ::close(pipeFds[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) report.append(buf, size_t(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += "\nthe child ended with status " + std::to_string(status);
  return report;
}

// Collects what is wrong, one line each, for a child process to report.
struct Complaints {
  std::string text;
  void operator()(bool ok, const std::string& what) {
    if (!ok) text += what + "\n";
  }
};

// What a chrooted process sees of "/" and of an archive in it; complaints, if any.
std::string ListInsideChroot(bool withProc) {
  Complaints check;
  const auto mounts = LinuxVolumeService::Mounts();
  check(withProc ? mounts.size() == 1 && mounts[0].Root == "/proc/" : mounts.empty(),
        "unexpected mount table of " + std::to_string(mounts.size()) + " entries");
  LinuxVolumeService linux;
  check(linux.DriveRootOf("/data/a.zip") == "/", "root is " + linux.DriveRootOf("/data/a.zip"));
  check(linux.DriveExists("/"), "/ does not exist");
  check(!linux.DriveExists("/data/"), "a plain folder counts as a drive");
  check(linux.KindOf("/") == DriveKind::Fixed, "/ is not fixed");
  VolumeInfo info{"stale", 7};
  check(linux.ReadVolumeInfo("/", info) == VolumeStatus::Ok && info.Label.empty() && info.Serial == 0,
        "volume information of / is wrong");
  int64_t freeBytes = -1, totalBytes = -1;
  check(linux.DiskSpace("/", freeBytes, totalBytes) && totalBytes > 0 && freeBytes >= 0, "sizes of / are wrong");

  TMarlin m;
  m.SetZipFilename("/data/a.zip");
  check(m.LastErrCode() == 0, "listing failed: " + m.LastMessage());
  check(m.EntryCount() == 2, "listed " + std::to_string(m.EntryCount()) + " entries");
  if (m.Contents().size() == 2)
    check(m.Contents()[0].EntryName == "one.txt" && m.Contents()[1].UnpackedSize64 == 5000, "entries read wrong");
  return check.text;
}

// A root holding one archive made by Info-ZIP, at /data/a.zip.
struct ChrootTree {
  TempDir dir;
  fs::path root = dir.Path() / "root";
  ChrootTree() {
    fs::create_directories(root / "proc");
    fs::create_directories(root / "data");
    fs::create_directories(dir.Path() / "src");
    WriteFile(dir / "src/one.txt", "one\n");
    WriteFile(dir / "src/two.txt", std::string(5000, 't'));
    const CommandResult zip = RunCommand("zip -q " + Quote((root / "data/a.zip").string()) + " one.txt two.txt",
                                         dir / "src");
    EXPECT_EQ(zip.Status, 0) << zip.Output;
  }
};

}  // namespace

// Inside a chroot or a minimal container no mount entry holds "/" (the mount table lists
// only /proc, or cannot be read at all): the file system is then a fixed drive at "/".
TEST(Volumes, ListsInAChrootWithoutAMountForRoot) {
  std::string skipped;
  for (bool withProc : {false, true}) {
    ChrootTree tree;
    const std::string report = InChild(withProc, tree.root, withProc, [=] { return ListInsideChroot(withProc); });
    if (report.rfind("SKIP: ", 0) == 0) skipped += report.substr(6) + "\n";
    else EXPECT_EQ(report, "") << (withProc ? "with /proc" : "without /proc");
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// A real disk (a loop device; partitions of one get no device nodes in every set-up, so
// the file system fills the disk): it is found wherever it is mounted, and mounted through
// the disk manager when it is not.
TEST(Volumes, DiskFollowedToItsMount) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  WriteFile(image, std::string(8 << 20, '\0'));
  const CommandResult mkfs = RunCommand("mkfs.ext2 -q -F " + Quote(image) + " 2>&1");
  if (mkfs.Status != 0) GTEST_SKIP() << "no file system made: " << mkfs.Output;
  const CommandResult attach = RunCommand("losetup -f --show " + Quote(image) + " 2>&1");
  if (attach.Status != 0) GTEST_SKIP() << "no loop device: " << attach.Output;
  const std::string disk = attach.Output.substr(0, attach.Output.find('\n'));
  struct Detach {
    std::string device;
    ~Detach() { RunCommand("losetup -d " + Quote(device)); }
  } detach{disk};
  const std::string mountPoint = dir / "mnt";
  fs::create_directory(mountPoint);

  const std::string report = InChild(true, {}, false, [&] {
    struct Mounter : DiskManager {
      std::string at;
      std::vector<std::string> asked;
      bool SetLabel(const std::string&, const std::string&) override { return false; }
      FormatStatus Format(const std::string&, const std::string&) override { return FormatStatus::Failed; }
      bool Mount(const std::string& device) override {
        asked.push_back(device);
        return ::mount(device.c_str(), at.c_str(), "ext2", 0, nullptr) == 0;
      }
    };
    auto mounter = std::make_shared<Mounter>();
    mounter->at = mountPoint;
    LinuxVolumeService::SetDiskManager(mounter);
    LinuxVolumeService linux;
    Complaints check;
    check(linux.MountPointOf(disk, false).empty(), "an unmounted disk has a mount point");
    check(mounter->asked.empty(), "mounted without being asked to");
    const std::string root = linux.MountPointOf(disk, true);
    check(root == mountPoint + "/", "mounted at '" + root + "'");
    check(mounter->asked == std::vector<std::string>{disk}, "asked to mount something else");
    check(linux.MountPointOf(disk, false) == root, "the mount is not found again");
    check(linux.DriveRootOf(mountPoint + "/x") == root, "the mount does not hold its files");
    LinuxVolumeService::SetDiskManager(nullptr);
    return check.text;
  });
  if (report.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << report.substr(6);
  EXPECT_EQ(report, "");
}

TEST(Volumes, DriveChecks) {
  TestMarlin m;
  for (const auto& [root, id, text] : {std::tuple{"relative/", 11003, "Not a valid drive: relative/"},
                                      {"/no/such/mount/", 11004, "Drive /no/such/mount/ is NOT defined"}}) {
    m.fDriveRoot = root;
    try {
      m.CheckDrive();
      ADD_FAILURE() << root << " passed";
    } catch (const EMarlin& e) {
      EXPECT_EQ(e.MsgId, id);
      EXPECT_EQ(std::string(e.what()), text);
    }
  }
  m.fDriveRoot = "/";
  EXPECT_TRUE(m.CheckDrive());
  EXPECT_GT(m.VolumeSizeBytes(), 0);
}

// The set as numbered files on a hard disk, then as disks in a removable drive.
TEST(Volumes, ListsASplitSet) {
  SplitSet set;
  ASSERT_GE(set.volumes.size(), 4u);
  const int count = int(set.volumes.size());
  TempDir dir;
  for (size_t i = 0; i < set.volumes.size(); ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "backup%03zu.zip", i + 1);
    fs::copy_file(set.volumes[i], dir / name);
  }
  const std::string last = dir / ("backup00" + std::to_string(count) + ".zip");
  Recorder h;
  TMarlin& m = h.m;
  m.SetZipFilename(last);
  EXPECT_TRUE(h.messages.empty()) << h.messages.front();
  EXPECT_TRUE(h.ui.Boxes.empty());
  EXPECT_TRUE(m.IsSpanned());
  EXPECT_EQ(m.LastDiskNo(), count - 1);
  EXPECT_LT(m.CentralDir().CentralStartDisk, m.CentralDir().DiskNumber - 1);
  EXPECT_EQ(EntryNamesOf(m), set.names);

  // A missing volume on a hard disk ends the listing at once.
  fs::remove(dir / "backup004.zip");
  m.SetZipFilename(last);
  EXPECT_EQ(h.messages, std::vector<std::string>{"Input file does not exist"});
  EXPECT_TRUE(m.ZipFilename().empty());
  EXPECT_EQ(h.ui.BoxTexts(), std::vector<std::string>{"Input file does not exist"});
  m.SetZipFilename(dir / "backup001.zip");
  EXPECT_EQ(m.LastMessage(), "This is the first file in a backup set,\nplease choose the last file of this set");

  // On disks: a wrong disk brings the same prompt back; then each volume of the directory
  // in turn.
  SetOnDrive a(set);
  const int first = count - 3;  // the directory's first volume, counted from 1
  a.volumes->Insert(a.disks.back());
  Recorder r(a.volumes);
  TMarlin& d = r.m;
  ScriptedUi& dui = r.ui;
  dui.Then(boxresult::Ok, [&] { a.volumes->Insert(a.disks[0]); });
  for (int v = first; v <= count; ++v) dui.Then(boxresult::Ok, [&, v] { a.volumes->Insert(a.disks[size_t(v - 1)]); });
  d.SetZipFilename(a.Archive());
  std::vector<std::string> expected = {a.Prompt(first, count)};
  for (int v = first; v <= count; ++v) expected.push_back(a.Prompt(v, count));
  EXPECT_EQ(dui.BoxTexts(), expected);
  for (const auto& box : dui.Boxes) EXPECT_EQ(box.Buttons, BoxButtons::OkCancel);
  EXPECT_EQ(EntryNamesOf(d), set.names);
  EXPECT_EQ(d.VolumeLabel(), "PKBACK# 00" + std::to_string(count));
  EXPECT_EQ(dui.BusyDepth, 0);

  // Cancel is silent: no box beyond the prompt, and nothing is listed.
  r.messages.clear();
  dui.Boxes.clear();
  a.volumes->Insert(a.disks.back());
  dui.Then(boxresult::Cancel);
  d.SetZipFilename(a.Archive());
  EXPECT_EQ(dui.Boxes.size(), 1u);
  EXPECT_EQ(r.messages, std::vector<std::string>{"User canceled operation"});
  EXPECT_EQ(d.LastErrCode(), 11007);
  EXPECT_EQ(d.EntryCount(), 0);

  // Unattended, no prompt is possible; nor where no box can be shown.
  d.SetUnattended(true);
  d.SetZipFilename(a.Archive());
  EXPECT_EQ(dui.Boxes.size(), 1u);
  EXPECT_EQ(d.LastMessage(), "Unattended disk spanning not implemented");
  d.SetUnattended(false);
  d.SetZipFilename(a.Archive());
  EXPECT_EQ(d.LastMessage(), "Not enough memory to display MsgBox");

  // Disks of the set other than the last.
  a.volumes->Insert(a.disks[0]);
  d.SetZipFilename(a.Archive());
  EXPECT_EQ(d.LastMessage(), "This is the first disk in a backup set,\nplease insert the last disk of this set");
  a.volumes->Insert(a.disks[2]);
  d.SetZipFilename(a.Archive());
  EXPECT_EQ(d.LastMessage(), "This is the 3th disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_TRUE(d.ZipFilename().empty());
}

TEST(Volumes, AskingForDisksWhileWriting) {
  TempDir dir;
  auto volumes = std::make_shared<SimulatedVolumeService>();
  const std::string drive = dir / "B";
  volumes->AddDrive(drive);
  const int blank = volumes->AddDisk(drive, "", 100000);
  const int raw = volumes->AddDisk(drive, "", 100000, false);

  ScriptedUi ui;
  TestMarlin m(&ui, volumes);
  m.fDriveRoot = drive + "/";
  m.fKilnBusy = true;
  m.fCurrentDiskNo = 0;
  m.fLogicalSize = 200500;  // a little more than two disks

  // An empty drive: the count of volumes is unknown until a disk is in.
  ui.Then(boxresult::Ok, [&] { volumes->Insert(blank); });
  EXPECT_EQ(m.AskForDisk(), DriveKind::Removable);
  m.fNewDiskRequested = true;
  ui.Then(boxresult::Ok);
  m.AskForDisk();
  EXPECT_EQ(ui.BoxTexts(), (std::vector<std::string>{"Please insert disk volume 1\nin drive: " + drive + "/",
                                                     "Please insert disk volume 1 of 3\nin drive: " + drive + "/"}));
  EXPECT_EQ(m.LastDiskNo(), 2);

  // An unformatted disk is usable only when it will be formatted.
  volumes->Insert(raw);
  EXPECT_FALSE(m.CheckDrive());
  m.SetAddOptions(AddOpts{AddOptsEnum::AddDiskSpanErase});
  EXPECT_TRUE(m.CheckDrive());
}
