// Multi-volume sets: splitting onto numbered files and removable disks, joining sets
// written by this component and by Info-ZIP, formatting disks, and refusals.

#include <gtest/gtest.h>

#include <filesystem>

#include "MarlinOp.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

// An archive written as a stream by Python: every entry has a data descriptor and zero
// sizes in its local header. Two names differ only in case; one entry has a long name,
// an extra field and a comment of the given lengths.
std::string MakeStreamedArchive(const TempDir& dir, int extraLength, int commentLength) {
  const std::string path = dir / "source.zip";
  Python(R"PY(
import random, sys, zipfile
class Stream:  # no seek or tell: zipfile then streams
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
extra, comment = int(sys.argv[2]), int(sys.argv[3])
with open(sys.argv[1], 'wb') as f, zipfile.ZipFile(Stream(f), 'w') as z:
    z.comment = b'comment of the set'
    def add(name, data, method=zipfile.ZIP_DEFLATED, **kw):
        i = zipfile.ZipInfo(name, (2022, 3, 4, 5, 6, 8))
        i.compress_type = method
        for k, v in kw.items(): setattr(i, k, v)
        z.writestr(i, data)
    add('Readme.txt', b'upper\n' * 300)
    add('README.txt', b'lower\n' * 200)
    add('noise.bin', random.Random(7).randbytes(300000), zipfile.ZIP_STORED)
    add('d/' + 'n' * 2000, b'long', extra=b'\xfe\xca' + (extra - 4).to_bytes(2, 'little') + b'x' * (extra - 4),
        comment=b'c' * comment)
)PY",
         {path, std::to_string(extraLength), std::to_string(commentLength)});
  return path;
}

// Three stored entries of seeded noise, about 230 kB.
std::string MakePlainArchive(const TempDir& dir) {
  const std::string path = dir / "plain.zip";
  Python(R"PY(
import random, sys, zipfile
r = random.Random(3)
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, size in [('a.bin', 100000), ('b.bin', 80000), ('c.bin', 50000)]:
        z.writestr(name, r.randbytes(size))
)PY",
         {path});
  return path;
}

std::string Numbered(const TempDir& dir, const std::string& stem, int n) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%03d.zip", stem.c_str(), n);
  return dir / name;
}

// Splits `zip` in `dir` into 64 kB volumes with Info-ZIP, renamed to `stem`001.zip and
// on; returns how many there are.
int SplitWithInfoZip(const TempDir& dir, const std::string& zip, const std::string& stem) {
  const CommandResult r = RunCommand("zip -q -s 64k " + zip + " --out s.zip", dir.Path().string());
  EXPECT_EQ(r.Status, 0) << r.Output;
  int count = 1;
  for (char name[16]; std::snprintf(name, sizeof name, "s.z%02d", count), fs::exists(dir / name); ++count)
    fs::rename(dir / name, Numbered(dir, stem, count));
  fs::rename(dir / "s.zip", Numbered(dir, stem, count));
  return count;
}

// Entry names and data as Python reads them, for comparing archives made by others.
std::string Contents(const std::string& archive) {
  return Python("import sys,zipfile,hashlib\nz=zipfile.ZipFile(sys.argv[1])\n"
                "print([(i.filename, hashlib.md5(z.read(i)).hexdigest()) for i in z.infolist()])",
                {archive});
}

struct Component : Recorder {
  using Recorder::Recorder;
  // Numbered files of at most `volumeSize` bytes, however full the disk is.
  explicit Component(int64_t volumeSize) {
    m.SetMaxVolumeSize(volumeSize);
    m.SetMinFreeVolumeSize(0);
  }
};

// Answers the next prompts with OK, inserting these disks in turn.
void InsertOnOk(ScriptedUi& ui, const std::shared_ptr<SimulatedVolumeService>& v, std::initializer_list<int> order) {
  for (int d : order) ui.Then(boxresult::Ok, [v, d] { v->Insert(d); });
}

// A removable drive with disks of 100000 bytes, the first one in, and a component for it.
struct Drive {
  TempDir dir;
  std::shared_ptr<SimulatedVolumeService> volumes = std::make_shared<SimulatedVolumeService>();
  std::string path = dir / "A";
  std::string source = MakePlainArchive(dir);
  explicit Drive(bool formatted = true) {
    volumes->AddDrive(path);
    for (int i = 0; i < 3; ++i) volumes->AddDisk(path, "", 100000, formatted);
    volumes->Insert(0);
  }
  std::string Set() const { return path + "/set.zip"; }
  std::string Prompt(const std::string& what) const { return what + "\nin drive: " + path + "/"; }
  std::string Prompt(int volume, int of) const {
    return Prompt("Please insert disk volume " + std::to_string(volume) + " of " + std::to_string(of));
  }
};

}  // namespace

// Joined back by us and by Info-ZIP; only the last volume starts a join, and one that is
// missing ends it, leaving nothing behind.
TEST(Span, NumberedFilesRoundTripAndInfoZip) {
  TempDir dir;
  const std::string source = MakeStreamedArchive(dir, 20000, 30000);
  const std::string original = ReadFile(source);
  fs::create_directory(dir.Path() / "set");
  Component c{int64_t(70000)};
  ASSERT_EQ(c.m.WriteSpan(source, dir / "set/backup.zip"), 0) << c.m.LastMessage();
  EXPECT_TRUE(c.ui.Boxes.empty());
  EXPECT_EQ(ReadFile(source), original);
  const int count = c.m.CurrentDiskNo() + 1;
  ASSERT_GE(count, 6);
  EXPECT_EQ(ReadFile(Numbered(dir, "set/backup", 1)).substr(0, 8), std::string("PK\x07\x08PK\x03\x04", 8));

  // The extension of the joined file is always .zip.
  std::string out = dir / "joined.dat";
  ASSERT_EQ(c.m.ReadSpan(Numbered(dir, "set/backup", count), out), 0) << c.m.LastMessage();
  EXPECT_EQ(out, dir / "joined.zip");
  EXPECT_TRUE(ReadFile(out) == original);

  fs::create_directory(dir.Path() / "iz");
  for (int v = 1; v <= count; ++v) {
    char name[16];
    std::snprintf(name, sizeof name, v < count ? "s.z%02d" : "s.zip", v);
    fs::copy_file(Numbered(dir, "set/backup", v), dir / ("iz/" + std::string(name)));
  }
  CommandResult r = RunCommand("zip -q -s 0 s.zip --out j.zip && unzip -tq j.zip", dir / "iz");
  EXPECT_EQ(r.Status, 0) << r.Output;
  EXPECT_EQ(Contents(dir / "iz/j.zip"), Contents(source));

  const auto before = NamesIn(dir.Path());
  auto refused = [&](int volume) {
    std::string other = dir / "other.zip";
    EXPECT_EQ(c.m.ReadSpan(Numbered(dir, "set/backup", volume), other), -7);
    EXPECT_TRUE(other.empty());
    return c.m.LastErrCode();
  };
  EXPECT_EQ(refused(1), 11037);
  EXPECT_EQ(c.m.LastMessage(), "This is the first disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_EQ(refused(2), 11038);
  fs::remove(Numbered(dir, "set/backup", 2));
  EXPECT_EQ(refused(count), 11001);
  EXPECT_EQ(c.m.LastMessage(), "Input file does not exist");
  EXPECT_EQ(NamesIn(dir.Path()), before);
}

// Every volume size from the smallest that holds a header up to one beyond the archive:
// between them the cut falls before, inside and after every header and every record, the
// directory's first header among them. Each set joins back byte for byte, and its end
// record says where the directory starts as the volumes show it.
TEST(Span, EveryCutPosition) {
  TempDir dir;
  const std::string source = dir / "small.zip";
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.comment = b'set comment'
    for k, name in enumerate(['a.txt', 'folder/b.txt', 'c.bin', 'd.txt']):
        i = zipfile.ZipInfo(name, (2021, 1, 2, 3, 4, 6))
        i.compress_type = zipfile.ZIP_DEFLATED if k % 2 else zipfile.ZIP_STORED
        i.comment = b'note %d' % k
        z.writestr(i, bytes([65 + k]) * (40 + 30 * k))
)PY",
         {source});
  const std::string original = ReadFile(source);
  const size_t smallest = 100;  // the largest header group (a central header with its comment) and the marker
  ASSERT_GT(original.size(), 400u);
  int sets = 0;
  for (size_t size = smallest; size <= original.size() + 1; ++size) {
    SCOPED_TRACE("volume size " + std::to_string(size));
    const fs::path folder = dir.Path() / "set";
    fs::remove_all(folder);
    fs::create_directory(folder);
    Component c{int64_t(size)};
    ASSERT_EQ(c.m.WriteSpan(source, (folder / "v.zip").string()), 0) << c.m.LastMessage();
    const int count = c.m.CurrentDiskNo() + 1;
    std::vector<std::string> volumes;
    for (int v = 1; v <= count; ++v) {
      volumes.push_back(ReadFile(Numbered(dir, "set/v", v)));
      EXPECT_LE(volumes.back().size(), size);
    }

    const std::string& last = volumes.back();
    const size_t endAt = last.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(endAt, std::string::npos);
    ASSERT_EQ(endAt + EndOfCentralDir::Size + 11, last.size());
    const EndOfCentralDir end = EndOfCentralDir::Decode(reinterpret_cast<const uint8_t*>(last.data() + endAt));
    EXPECT_EQ(end.DiskNumber, count - 1);
    ASSERT_LT(end.CentralStartDisk, volumes.size());
    const std::string& first = volumes[end.CentralStartDisk];
    EXPECT_EQ(first.substr(end.CentralDirStart, 4), std::string("PK\x01\x02", 4));
    size_t onLastDisk = 0;
    for (size_t at = 0; (at = last.find(std::string("PK\x01\x02", 4), at)) != std::string::npos; ++at) ++onLastDisk;
    EXPECT_EQ(end.EntriesOnDisk, onLastDisk);

    std::string out = dir / "joined.zip";
    fs::remove(out);
    ASSERT_EQ(c.m.ReadSpan(Numbered(dir, "set/v", count), out), 0) << c.m.LastMessage();
    ASSERT_TRUE(ReadFile(out) == original);
    ++sets;
  }
  EXPECT_GT(sets, 300);
}

TEST(Span, ThreeDiskSetWithPrompts) {
  Drive a;
  const std::string& source = a.source;
  Component c(a.volumes);
  c.ui.Then(boxresult::Ok);
  // Disk 1 is left in the drive: its volume is recognised as an earlier one of this set.
  c.ui.Then(boxresult::Ok);
  c.ui.Then(boxresult::No);
  InsertOnOk(c.ui, a.volumes, {1, 2});
  ASSERT_EQ(c.m.WriteSpan(source, a.Set()), 0) << c.m.LastMessage();
  const std::string previous =
      "ATTENTION: This is previous disk no 1!!!\nAre you sure you want to overwrite the contents";
  ASSERT_EQ(c.ui.BoxTexts(), (std::vector<std::string>{a.Prompt(1, 3), a.Prompt(2, 3), previous, a.Prompt(2, 3),
                                                        a.Prompt(3, 3)}));
  EXPECT_EQ(c.ui.Boxes[2].DefaultButton, 1);
  for (int d = 0; d < 3; ++d) EXPECT_EQ(a.volumes->Label(d), "PKBACK# 00" + std::to_string(d + 1));
  EXPECT_EQ(fs::file_size(a.volumes->DiskFolder(0) + "/set.zip"), 100000u);

  // Joining, started with the middle disk; a wrong disk brings the same prompt back.
  a.volumes->Insert(1);
  Component j(a.volumes);
  InsertOnOk(j.ui, a.volumes, {2, 0, 2, 1, 2});
  std::string out = a.dir / "joined.zip";
  ASSERT_EQ(j.m.ReadSpan(a.Set(), out), 0) << j.m.LastMessage();
  ASSERT_EQ(j.ui.BoxTexts(), (std::vector<std::string>{a.Prompt("Please insert last disk"), a.Prompt(1, 3),
                                                        a.Prompt(2, 3), a.Prompt(2, 3), a.Prompt(3, 3)}));
  EXPECT_TRUE(ReadFile(out) == ReadFile(source));
}

TEST(Span, RefusalsLeaveNoVolume) {
  Drive a;
  const std::string& source = a.source;
  Component c(a.volumes);

  // Cancelled in the middle of a volume: the unfinished volume goes.
  c.ui.Then(boxresult::Ok);
  c.m.OnProgress = [](TMarlin* m, ProgressType t, const std::string&, int64_t) {
    if (t == ProgressType::ProgrUpdate) m->SetCancelRequested(true);
  };
  EXPECT_EQ(c.m.WriteSpan(source, a.Set()), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11007);
  EXPECT_EQ(c.ui.Boxes.size(), 1u);
  EXPECT_TRUE(NamesIn(a.path).empty());
  c.m.OnProgress = nullptr;
  c.m.SetCancelRequested(false);

  // An existing file of another set: the question, and Cancel keeps the file.
  WriteFile(a.Set(), "someone's file");
  c.ui.Then(boxresult::Ok);
  c.ui.Then(boxresult::Cancel);
  EXPECT_EQ(c.m.WriteSpan(source, a.Set()), -7);
  ASSERT_FALSE(c.ui.Boxes.empty());
  EXPECT_EQ(c.ui.BoxTexts().back(), "There is already a file " + a.Set() + "\nDo you want to overwrite this file");
  EXPECT_EQ(ReadFile(a.Set()), "someone's file");

  // A disk with less room than MinFreeVolumeSize: refused and its new file removed;
  // Retry asks for a disk again.
  const int small = a.volumes->AddDisk(a.path, "", 50000);
  a.volumes->Insert(small);
  c.ui.Boxes.clear();
  c.ui.Then(boxresult::Ok);
  c.ui.Then(boxresult::Retry, [&] { a.volumes->Insert(1); });
  c.ui.Then(boxresult::Ok);
  c.ui.Then(boxresult::Ok, [&] { a.volumes->Insert(small); });
  c.ui.Then(boxresult::Cancel);
  EXPECT_EQ(c.m.WriteSpan(source, a.Set()), -7);
  const int estimate = int(1 + (fs::file_size(source) + 4) / 50000);
  const std::string noRoom = "This disk has not enough free space available";
  EXPECT_EQ(c.ui.BoxTexts(), (std::vector<std::string>{a.Prompt(1, estimate), noRoom, a.Prompt(1, 3),
                                                        a.Prompt(2, 3), noRoom}));
  EXPECT_TRUE(NamesIn(a.path).empty());
  EXPECT_EQ(fs::file_size(a.volumes->DiskFolder(1) + "/set.zip"), 100000u);

  // A hard disk short of that room: refused at once.
  const std::string disk = a.dir / "D";
  a.volumes->AddDrive(disk, DriveKind::Fixed);
  a.volumes->Insert(a.volumes->AddDisk(disk, "", 50000));
  c.ui.Boxes.clear();
  c.m.SetMaxVolumeSize(20000);
  EXPECT_EQ(c.m.WriteSpan(source, disk + "/s.zip"), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11032);
  ASSERT_EQ(c.ui.BoxTexts(), std::vector<std::string>{noRoom});
  EXPECT_EQ(c.ui.Boxes[0].Buttons, BoxButtons::Ok);  // no retry can bring more room
  EXPECT_TRUE(NamesIn(disk).empty());
}

// Writing with formatting is run under new mount paths below.
TEST(Span, FormattingDisks) {
  Drive a(false);
  WriteFile(a.volumes->DiskFolder(0) + "/old", "old");
  // One format at a time in the whole program, asked from inside the running one.
  struct BusyUi : ScriptedUi {
    std::function<void()> During;
    void ProcessEvents() override {
      if (auto f = std::exchange(During, nullptr)) f();
    }
  } ui;
  struct Formatter : TMarlin {
    using TMarlin::TMarlin;
    using TMarlin::fDriveRoot;
    using TMarlin::fVolumeLabel;
  } first(&ui, a.volumes), second(&ui, a.volumes);
  first.fDriveRoot = a.path + "/";
  first.fVolumeLabel = "PKBACK# 003";

  // Asked first when ConfirmErase is set, as it is at first: No formats nothing, Cancel cancels.
  ui.Then(boxresult::No);
  EXPECT_EQ(first.FormatVolume(), -3);
  ASSERT_FALSE(ui.Boxes.empty());
  EXPECT_EQ(ui.BoxTexts().front(), "Format the disk in drive " + a.path + "/ with the label PKBACK# 003?\n"
                                   "Everything on it will be erased. No uses the disk as it is.");
  EXPECT_EQ(ui.Boxes.front().DefaultButton, 1);
  ui.Then(boxresult::Cancel);
  EXPECT_EQ(first.FormatVolume(), -2);
  EXPECT_EQ(NamesIn(a.path), std::vector<std::string>{"old"});
  EXPECT_EQ(a.volumes->FormatCount(), 0);
  first.SetConfirmErase(false);
  int nested = 0;
  ui.During = [&] { nested = second.FormatVolume(); };
  EXPECT_EQ(first.FormatVolume(), 0);
  EXPECT_EQ(nested, -1);
  EXPECT_TRUE(NamesIn(a.path).empty());
  EXPECT_EQ(a.volumes->Label(0), "PKBACK# 003");

  // A failed format ends the set with a shown cancel, a cancelled one silently.
  Component c(a.volumes);
  c.m.SetAddOptions(AddOpts{AddOptsEnum::AddDiskSpanErase});
  c.m.SetConfirmErase(false);
  a.volumes->SetFormatOutcome(FormatStatus::Failed);
  c.ui.Then(boxresult::Ok);
  EXPECT_EQ(c.m.WriteSpan(a.source, a.Set()), -7);
  ASSERT_FALSE(c.ui.Boxes.empty());
  EXPECT_EQ(c.ui.BoxTexts().back(), "User canceled operation");
  a.volumes->SetFormatOutcome(FormatStatus::Cancelled);
  c.ui.Then(boxresult::Ok);
  EXPECT_EQ(c.m.WriteSpan(a.source, a.Set()), -7);
  EXPECT_EQ(c.ui.Boxes.size(), 3u);

  // A hard disk is never formatted, nor is anything that is not a block device.
  const std::string fixed = a.dir / "C";
  a.volumes->AddDrive(fixed, DriveKind::Fixed);
  a.volumes->Insert(a.volumes->AddDisk(fixed, "", 100000));
  first.fDriveRoot = fixed + "/";
  const int formats = a.volumes->FormatCount();
  EXPECT_EQ(first.FormatVolume(), -3);
  EXPECT_EQ(a.volumes->FormatCount(), formats);
  EXPECT_EQ(LinuxVolumeService::Instance()->Format("/proc/", "PKBACK# 001"), FormatStatus::NotPossible);
  EXPECT_FALSE(LinuxVolumeService::Instance()->SetLabel("/proc/", "PKBACK# 001"));
}

// A desktop mounts every disk under a path of its own, and a formatted disk again under
// another: the drive is followed by its device, never lost for its old mount point.
TEST(Span, DisksMountedUnderNewPaths) {
  TempDir work;
  const std::string source = MakePlainArchive(work);
  auto volumes = std::make_shared<SimulatedVolumeService>();
  const std::string drive = work / "usb";
  volumes->AddDrive(drive, DriveKind::Removable, true);
  std::vector<int> disks;
  for (int i = 0; i < 3; ++i) disks.push_back(volumes->AddDisk(drive, "", 100000));
  WriteFile(volumes->DiskFolder(disks[1]) + "/old", "old");
  volumes->Insert(disks[0]);
  const std::string firstMount = volumes->DiskFolder(disks[0]);
  ASSERT_NE(firstMount, drive);

  // Written with formatting, which mounts each disk once more.
  Component c(volumes);
  c.m.SetAddOptions(AddOpts{AddOptsEnum::AddDiskSpanErase});
  c.m.SetConfirmErase(false);
  c.ui.Then(boxresult::Ok);
  InsertOnOk(c.ui, volumes, {disks[1], disks[2]});
  ASSERT_EQ(c.m.WriteSpan(source, firstMount + "/set.zip"), 0) << c.m.LastMessage();
  EXPECT_EQ(c.ui.Boxes.size(), 3u);
  EXPECT_EQ(volumes->FormatCount(), 3);
  for (int d : disks) {
    EXPECT_EQ(volumes->Label(d), "PKBACK# 00" + std::to_string(d + 1));
    EXPECT_EQ(NamesIn(volumes->DiskFolder(d)), std::vector<std::string>{"set.zip"});
  }
  EXPECT_EQ(c.m.DriveRoot(), volumes->DiskFolder(disks[2]) + "/");
  EXPECT_EQ(c.m.WriteName(), volumes->DiskFolder(disks[2]) + "/set.zip");

  // Joined without automounting: each disk asked for is mounted by the component, and an
  // empty drive is asked for again rather than called undefined.
  volumes->SetAutomount(false);
  volumes->Eject(drive);
  volumes->Insert(disks[2]);
  const std::string last = volumes->MountPointOf(drive, true);
  ASSERT_FALSE(last.empty());
  const int mountsBefore = volumes->MountCount();
  Component j(volumes);
  j.ui.Then(boxresult::Ok, [&] { volumes->Eject(drive); });
  InsertOnOk(j.ui, volumes, {disks[0], disks[1], disks[2]});
  std::string out = work / "joined.zip";
  ASSERT_EQ(j.m.ReadSpan(last + "set.zip", out), 0) << j.m.LastMessage();
  EXPECT_TRUE(ReadFile(out) == ReadFile(source));
  EXPECT_EQ(volumes->MountCount() - mountsBefore, 3);
  EXPECT_EQ(j.ui.Boxes.size(), 4u);
}

TEST(Span, BadInputLosesNothing) {
  TempDir dir;
  Component c{int64_t(100000)};

  // A central header group larger than a volume: an error, not an endless set.
  const std::string big = MakeStreamedArchive(dir, 60000, 60000);
  fs::create_directory(dir.Path() / "out");
  EXPECT_EQ(c.m.WriteSpan(big, dir / "out/s.zip"), -7);
  EXPECT_EQ(c.m.LastMessage(), "A header is too large to fit on an empty volume");
  EXPECT_TRUE(NamesIn(dir.Path() / "out").empty());

  // A central header pointing between local headers.
  std::string bytes = ReadFile(big);
  const size_t central = bytes.find("PK\x01\x02");
  bytes[central + 42] = char(bytes[central + 42] + 1);
  WriteFile(dir / "moved.zip", bytes);
  EXPECT_EQ(c.m.WriteSpan(dir / "moved.zip", dir / "out/s.zip"), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11026);
  EXPECT_TRUE(NamesIn(dir.Path() / "out").empty());
  EXPECT_EQ(ReadFile(dir / "moved.zip"), bytes);

  // A volume that would replace the source.
  fs::copy_file(big, dir / "out/s001.zip");
  EXPECT_EQ(c.m.WriteSpan(dir / "out/s001.zip", dir / "out/s.zip"), -7);
  EXPECT_EQ(c.m.LastMessage(), "The output file is one of the files being read");
  EXPECT_EQ(ReadFile(dir / "out/s001.zip"), ReadFile(big));
  fs::remove(dir / "out/s001.zip");

  // Zip64 end records cannot be described by a set.
  Python("import sys,zipfile\nzipfile.ZIP_FILECOUNT_LIMIT = 1\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n    z.writestr('a', 'a')\n    z.writestr('b', 'b')\n",
         {dir / "z64.zip"});
  EXPECT_EQ(c.m.WriteSpan(dir / "z64.zip", dir / "out/s.zip"), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11101);

  // A volume whose directory names a local header that is not there, and a truncated
  // volume: no joined file is left behind.
  c.m.SetMaxVolumeSize(150000);
  ASSERT_EQ(c.m.WriteSpan(big, dir / "out/s.zip"), 0) << c.m.LastMessage();
  const int count = c.m.CurrentDiskNo() + 1;
  const std::string last = Numbered(dir, "out/s", count);
  const std::string good = ReadFile(last);
  std::string wrong = good;
  wrong[wrong.find("PK\x01\x02") + 42] ^= 1;
  WriteFile(last, wrong);
  std::string out = dir / "j.zip";
  EXPECT_EQ(c.m.ReadSpan(last, out), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11026);
  EXPECT_TRUE(out.empty());
  WriteFile(last, good);
  fs::resize_file(last, good.size() - 30);
  out = dir / "j.zip";
  EXPECT_EQ(c.m.ReadSpan(last, out), -7);
  EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"moved.zip", "out", "source.zip", "z64.zip"}));
}

// Layouts other writers produce: Info-ZIP sets whose headers start a new split file, data
// descriptors without their signature, and Zip64 sizes in local headers only.
TEST(Span, PeerLayouts) {
  TempDir dir;
  // Info-ZIP records a local header that starts a split file as lying at the end of the
  // one before.
  Python("import sys, zipfile\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    for i in range(2500): z.writestr('t/%05d' % i, b'%d' % i)\n",
         {dir / "tiny.zip"});
  const int count = SplitWithInfoZip(dir, "tiny.zip", "SET");
  Component c{int64_t(30000)};
  std::string out = dir / "joined.zip";
  ASSERT_EQ(c.m.ReadSpan(Numbered(dir, "SET", count), out), 0) << c.m.LastMessage();
  EXPECT_EQ(Contents(out), Contents(dir / "tiny.zip"));

  // Descriptors of 12 bytes after every entry; the joined set is the archive again.
  const std::string bare = dir / "bare.zip";
  Python(R"PY(
import struct, sys, zlib
entries = [(b'one.txt', b'first' * 100), (b'two.bin', bytes(range(256)) * 300), (b'three', b'')]
out, central = b'', b''
for name, data in entries:
    crc = zlib.crc32(data)
    central += struct.pack('<4sHHHHHHLLLHHHHHLL', b'PK\x01\x02', 20, 20, 8, 0, 0, 0, crc, len(data), len(data),
                           len(name), 0, 0, 0, 0, 0, len(out)) + name
    out += struct.pack('<4sHHHHHLLLHH', b'PK\x03\x04', 20, 8, 0, 0, 0, 0, 0, 0, len(name), 0) + name + data
    out += struct.pack('<LLL', crc, len(data), len(data))
end = struct.pack('<4sHHHHLLH', b'PK\x05\x06', 0, 0, 3, 3, len(central), len(out), 0)
open(sys.argv[1], 'wb').write(out + central + end)
import zipfile
assert zipfile.ZipFile(sys.argv[1]).testzip() is None
)PY",
         {bare});
  fs::create_directory(dir.Path() / "bare");
  ASSERT_EQ(c.m.WriteSpan(bare, dir / "bare/b.zip"), 0) << c.m.LastMessage();
  out = dir / "bare-joined.zip";
  ASSERT_EQ(c.m.ReadSpan(Numbered(dir, "bare/b", c.m.CurrentDiskNo() + 1), out), 0) << c.m.LastMessage();
  EXPECT_EQ(ReadFile(out), ReadFile(bare));

  // 0xFFFFFFFF sizes and a Zip64 extra in the local header only, as some writers (Python's
  // force_zip64, by version) leave them; made by hand so that no writer's version matters.
  Python(R"PY(
import struct, sys, zlib
data = b'x' * 5000
crc = zlib.crc32(data)
extra = struct.pack('<HHQQ', 1, 16, len(data), len(data))
local = struct.pack('<4sHHHHHLLLHH', b'PK\x03\x04', 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF, 3, len(extra))
local += b'big' + extra + data
central = struct.pack('<4sHHHHHHLLLHHHHHLL', b'PK\x01\x02', 45, 45, 0, 0, 0, 0x21, crc, len(data), len(data),
                      3, 0, 0, 0, 0, 0, 0) + b'big'
end = struct.pack('<4sHHHHLLH', b'PK\x05\x06', 0, 0, 1, 1, len(central), len(local), 0)
open(sys.argv[1], 'wb').write(local + central + end)
)PY",
         {dir / "local64.zip"});
  EXPECT_EQ(c.m.WriteSpan(dir / "local64.zip", dir / "bare/l.zip"), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11101);
  EXPECT_FALSE(fs::exists(Numbered(dir, "bare/l", 1)));
}

// While a join runs, its output has no name in the folder: a join that is killed leaves
// nothing behind. A folder under the asked name stays.
TEST(Span, JoinedFileUnnamedUntilComplete) {
  TempDir dir;
  const std::string source = MakePlainArchive(dir);
  fs::create_directory(dir.Path() / "set");
  fs::create_directory(dir.Path() / "out");
  Component c{int64_t(70000)};
  ASSERT_EQ(c.m.WriteSpan(source, dir / "set/s.zip"), 0) << c.m.LastMessage();
  const std::string last = Numbered(dir, "set/s", c.m.CurrentDiskNo() + 1);

  size_t seen = 0, updates = 0;
  c.m.OnProgress = [&](TMarlin*, ProgressType type, const std::string&, int64_t) {
    if (type != ProgressType::ProgrUpdate) return;
    ++updates;
    seen = std::max(seen, NamesIn(dir.Path() / "out").size());
  };
  std::string out = dir / "out/";
  ASSERT_EQ(c.m.ReadSpan(last, out), 0) << c.m.LastMessage();
  EXPECT_GT(updates, 3u);
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(NamesIn(dir.Path() / "out").size(), 1u);
  EXPECT_EQ(ReadFile(out), ReadFile(source));
  EXPECT_TRUE(fs::path(out).filename().string().starts_with("zip") && out.ends_with(".zip")) << out;

  fs::create_directory(dir.Path() / "out/j.zip");
  out = dir / "out/j.dat";
  c.m.SetHowToDelete(DeleteOpts::htdFinal);
  EXPECT_EQ(c.m.ReadSpan(last, out), -7);
  EXPECT_EQ(c.m.LastErrCode(), 11107);
  EXPECT_TRUE(fs::is_directory(dir / "out/j.zip"));
}
