// Reading archives written by independent tools, and archives damaged on purpose.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <filesystem>

#include "MarlinOp.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

struct Reader : Recorder {
  explicit Reader(const std::string& path = {}) {
    if (!path.empty()) Open(path);
  }
  void Open(const std::string& path) {
    messages.clear();
    m.SetZipFilename(path);
  }
};

// An archive of three files written by Python, with entry and archive comments.
std::string MakePythonArchive(const TempDir& dir, const std::string& name, const std::string& comment = "") {
  const std::string path = dir / name;
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = bytes.fromhex(sys.argv[2])
    for n, data in [('alpha.txt', b'a' * 1000), ('sub/beta.bin', bytes(range(256)) * 7), ('sub/deep/gamma', b'')]:
        i = zipfile.ZipInfo(n, (2021, 6, 15, 13, 45, 30))
        i.compress_type = zipfile.ZIP_DEFLATED
        i.comment = ('note on ' + n).encode()
        z.writestr(i, data)
)PY",
         {path, QByteArray::fromStdString(comment).toHex().toStdString()});
  return path;
}

// Five entries with every Zip64 record: lowering Python's limits makes it write them for a
// small archive.
std::string MakeZip64Archive(const TempDir& dir, const std::string& patch = "") {
  const std::string path = dir / "z64.zip";
  Python("import sys, zipfile\nzipfile.ZIP64_LIMIT = 100\nzipfile.ZIP_FILECOUNT_LIMIT = 2\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    for k in range(5): z.writestr('file%d' % k, bytes([k]) * (300 * k))\n" + patch,
         {path});
  return path;
}

// Puts Zip64 end records with the given fields in front of the end record, and marks the
// record's fields named in `saturate` (d: disk numbers, n: entry counts, s: directory size)
// as found there. A size of 0 keeps the directory's own.
void AddZip64Records(const std::string& path, uint64_t disk, uint64_t startDisk, uint64_t entries, uint64_t size,
                     const std::string& saturate) {
  Python(R"PY(
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
e = d.rfind(b'PK\x05\x06')
cd_size, cd_start = struct.unpack('<LL', d[e+12:e+20])
disk, start_disk, entries, size = (int(a) for a in sys.argv[2:6])
z64 = struct.pack('<4sQHHLLQQQQ', b'PK\x06\x06', 44, 45, 45, disk, start_disk, entries, entries, size or cd_size, cd_start)
loc = struct.pack('<4sLQL', b'PK\x06\x07', 0, e, 1)
for flag, at in [('d', 4), ('n', 8), ('s', 12)]:
    if flag in sys.argv[6]: d[e+at:e+at+4] = b'\xff\xff\xff\xff'
open(sys.argv[1], 'wb').write(bytes(d[:e]) + z64 + loc + bytes(d[e:]))
)PY",
         {path, std::to_string(disk), std::to_string(startDisk), std::to_string(entries), std::to_string(size),
          saturate});
}

}  // namespace

// Agreement with Python on every field is checked through the command line's listing;
// here the component's own state after reading, and archives with nothing to list.
TEST(DirectoryReader, PeerEmptyMissingOrNotAnArchive) {
  TempDir dir;
  const std::string py = MakePythonArchive(dir, "py.zip", std::string("archive note\0hidden", 19));
  Reader r(py);
  EXPECT_EQ(r.dirUpdates, 1);
  ASSERT_EQ(r.m.EntryCount(), 3);
  EXPECT_EQ(r.m.HostSystem(), 3);
  EXPECT_EQ(r.m.ArchiveComment(), "archive note");  // ends at its first zero byte
  EXPECT_EQ(r.m.Contents()[2].EntryComment, "note on sub/deep/gamma");
  EXPECT_EQ(r.m.LogicalSize(), fs::file_size(py));
  EXPECT_FALSE(r.m.IsSpanned());
  EXPECT_TRUE(r.messages.empty() && r.ui.Boxes.empty());
  EXPECT_EQ(r.ui.BusyDepth, 0);

  // Nothing stands in front of the zip data of an empty archive, with a comment or without.
  Python("import zipfile,sys\nzipfile.ZipFile(sys.argv[1], 'w').close()\n"
         "z = zipfile.ZipFile(sys.argv[2], 'w'); z.comment = b'just a note'; z.close()\n",
         {dir / "empty.zip", dir / "noted.zip"});
  r.Open(dir / "empty.zip");
  EXPECT_EQ(r.m.ZipFilename(), dir / "empty.zip");
  EXPECT_EQ(r.m.EntryCount(), 0);
  EXPECT_EQ(r.m.CentralDirOffset(), 0u);
  r.Open(dir / "noted.zip");
  EXPECT_EQ(r.m.PrefixSize(), 0u);
  EXPECT_EQ(r.m.ArchiveComment(), "just a note");
  r.Open(dir / "missing.zip");
  EXPECT_EQ(r.dirUpdates, 4);
  EXPECT_TRUE(r.messages.empty());

  for (const std::string& content : {std::string("This is plain text, no archive at all.\n"),
                                     std::string(), std::string("PK\x05\x06", 4), std::string(70000, 'z')}) {
    WriteFile(dir / "text.zip", content);
    Reader t(dir / "text.zip");
    EXPECT_EQ(t.messages, std::vector<std::string>{"This archive is not a valid Zip archive"});
    EXPECT_TRUE(t.m.ZipFilename().empty());
    EXPECT_EQ(t.dirUpdates, 1);
  }

  // A folder is not an archive file; a file without read permission cannot be opened.
  fs::create_directory(dir / "folder.zip");
  r.Open(dir / "folder.zip");
  EXPECT_TRUE(r.messages.empty());
  if (::geteuid() != 0) {
    fs::permissions(py, fs::perms::none);
    r.Open(py);
    EXPECT_EQ(r.messages, std::vector<std::string>{"Input file does not exist"});
  }

  // Looked for without raising (as while joining a set): one box, and no exception.
  struct Probe : TMarlin {
    using TMarlin::TMarlin;
    bool Find(const std::string& name, EndOfCentralDir& e) {
      fReadName = name;
      const bool found = OpenEOC(e, false);
      fReadHandle.Close();
      return found;
    }
  };
  ScriptedUi ui;
  Probe p(&ui);
  EndOfCentralDir e;
  EXPECT_FALSE(p.Find(dir / "missing.zip", e));
  EXPECT_EQ(ui.BoxTexts(), std::vector<std::string>{"Zip file could not be opened"});
  EXPECT_EQ(p.LastErrCode(), 11002);
  EXPECT_FALSE(p.Find(dir / "text.zip", e));
  EXPECT_EQ(ui.Boxes.size(), 1u);
}

TEST(DirectoryReader, DamagedCentralDirectory) {
  TempDir dir;
  const std::string path = MakePythonArchive(dir, "a.zip");
  const std::string good = ReadFile(path);
  const size_t third = good.rfind("PK\x01\x02"), eocd = good.rfind("PK\x05\x06");
  Reader r;
  auto open = [&](size_t at, const std::string& bytes) {
    std::string bad = good;
    WriteFile(path, bad.replace(at, bytes.size(), bytes));
    r.Open(path);
    return r.messages;
  };
  EXPECT_EQ(open(third + 2, "X"), std::vector<std::string>{"A central header signature is wrong"});
  EXPECT_EQ(r.m.Contents().size(), 2u);
  EXPECT_EQ(r.m.EntryCount(), 0);
  EXPECT_TRUE(r.m.ZipFilename().empty());
  EXPECT_EQ(r.m.PrefixSize(), 0u);
  // More entries announced than present: the end record is met where a header should be.
  EXPECT_EQ(open(eocd + 10, LE16(4)), std::vector<std::string>{"Error while reading a central header"});
  // A directory larger than the file ends in a seek error, not in a read before the file.
  EXPECT_EQ(open(eocd + 12, LE32(0x7FFFFFF0)).back(), "Seek error reading Zip archive!");
  // A name running past the end of the file.
  EXPECT_EQ(open(third + 28, LE16(60000)), std::vector<std::string>{"Error while reading a central file name"});

  // A Zip64 end record that claims billions of entries in a small file.
  WriteFile(path, good);
  AddZip64Records(path, 0, 0, 1ull << 60, 0, "n");
  r.Open(path);
  EXPECT_EQ(r.m.CentralDir().EntriesTotal, 1ull << 60);
  EXPECT_EQ(r.messages, std::vector<std::string>{"A central header signature is wrong"});
  EXPECT_EQ(r.m.Contents().size(), 3u);
}

TEST(DirectoryReader, NameEncodings) {
  TempDir dir;
  // Names stored as DOS would (code page 437, 0x82 is e acute), as NTFS under version
  // 5.0, as Unix, and flagged UTF-8.
  const std::string path = dir / "names.zip";
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for n, system, version in [('caf_dos.txt', 0, 20), ('caf_nt.txt', 11, 50), ('caf_unix.txt', 3, 30)]:
        i = zipfile.ZipInfo(n); i.create_system = system; i.create_version = version
        z.writestr(i, b'x')
    i = zipfile.ZipInfo('caf\u00e9_utf8.txt'); i.create_system = 0
    z.writestr(i, b'x')
data = open(sys.argv[1], 'rb').read()
for tag in [b'dos', b'nt', b'unix']:
    data = data.replace(b'caf_' + tag, b'caf\x82' + tag)
open(sys.argv[1], 'wb').write(data)
)PY",
         {path});
  Reader r(path);
  ASSERT_EQ(r.m.EntryCount(), 4);
  EXPECT_EQ(r.m.Contents()[0].EntryName, "caf\u00e9dos.txt");
  EXPECT_EQ(r.m.Contents()[1].EntryName, "caf\u00e9nt.txt");
  // Names of every system are judged together: one that is no UTF-8 is in the code page too.
  EXPECT_EQ(r.m.Contents()[2].EntryName, "caf\u00e9unix.txt");
  EXPECT_EQ(r.m.Contents()[3].EntryName, "caf\u00e9_utf8.txt");
  EXPECT_EQ(r.m.Contents()[0].NameLength, 11);

  r.m.SetCodePage(CodePageOpts::cpNone);
  r.Open(path);
  EXPECT_EQ(r.m.Contents()[0].EntryName, "caf\x82" "dos.txt");
  EXPECT_EQ(r.m.Contents()[1].EntryName, "caf\u00e9nt.txt");  // NTFS 5.0 converts under every setting
  r.m.SetCodePage(CodePageOpts::cpOEM);
  r.Open(path);
  EXPECT_EQ(r.m.Contents()[2].EntryName, "caf\u00e9unix.txt");
  EXPECT_EQ(r.m.Contents()[3].EntryName, "caf\u00e9_utf8.txt");  // flagged UTF-8 is never converted
}

TEST(DirectoryReader, Zip64RecordsBehindAPrefix) {
  TempDir dir;
  const std::string path = MakeZip64Archive(dir);
  // The stored offset of the Zip64 end record no longer counts from the start of the file.
  WriteFile(dir / "z64.exe", std::string(777, 'S') + ReadFile(path));
  Reader r(dir / "z64.exe");
  EXPECT_GT(r.m.CentralDir().Zip64Bytes, 0u);
  ASSERT_EQ(r.m.EntryCount(), 5);
  EXPECT_EQ(r.m.Contents()[4].UnpackedSize64, 1200u);
  EXPECT_EQ(r.m.PrefixSize(), 777u);
  EXPECT_TRUE(r.m.OffsetMismatch());
  EXPECT_EQ(r.messages, std::vector<std::string>{"Warning - Error in zip structure!"});

  // Every field of every Zip64 extra, the last one included, as Python reads them.
  Reader plain(path);
  std::string ours;
  for (const ZipDirEntry& e : plain.m.Contents())
    ours += std::to_string(e.UnpackedSize64) + " " + std::to_string(e.PackedSize64) + " " +
            std::to_string(e.LocalHeaderOffset64) + "\n";
  const std::string python = Python(
      "import sys, zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    print(i.file_size, i.compress_size, i.header_offset)\n",
      {path});
  EXPECT_EQ(ours, python);
}

// The end record at every distance from the end of the file that a short comment or a few
// stray bytes give, the one-byte cases above all. Zero padding up to a 512-byte boundary is
// accepted silently; other bytes behind the archive, and a comment said to run past the end
// of the file, are garbage.
TEST(DirectoryReader, BytesAfterTheEndRecord) {
  TempDir dir;
  const std::string path = dir / "tail.zip";
  for (const std::string comment : {"", "x", "xy"}) {
    const std::string zip = MakePythonArchive(dir, "c" + std::to_string(comment.size()) + ".zip", comment);
    const size_t pad = 512 - fs::file_size(zip) % 512;
    for (const std::string& trailing : {std::string(), std::string("!"), std::string("!?"), std::string(pad, '\0'),
                                        std::string(pad - 1, '\0'), std::string(pad - 1, '\0') + "x"}) {
      SCOPED_TRACE(std::to_string(comment.size()) + "-byte comment, " + std::to_string(trailing.size()) +
                   " trailing bytes");
      WriteFile(path, ReadFile(zip) + trailing);
      Reader r(path);
      const bool padding = trailing.empty() || trailing == std::string(pad, '\0');
      EXPECT_EQ(r.m.LastErrCode(), padding ? 0 : 10204) << r.m.LastMessage();
      EXPECT_EQ(r.ui.Boxes.size(), padding ? 0u : 1u);
      EXPECT_EQ(r.m.EntryCount(), 3);
      EXPECT_EQ(r.m.ArchiveComment(), comment);
      EXPECT_EQ(r.m.LogicalSize(), fs::file_size(zip));
      EXPECT_EQ(r.m.PhysicalSize(), fs::file_size(path));
      EXPECT_EQ(r.messages, padding ? std::vector<std::string>{}
                                    : std::vector<std::string>{"Warning - Garbage at the end of the zipfile!"});
    }
  }

  std::string bytes = ReadFile(MakePythonArchive(dir, "c.zip", "short"));
  bytes.replace(bytes.rfind("PK\x05\x06") + 20, 2, LE16(40));
  WriteFile(path, bytes);
  Reader c(path);
  EXPECT_EQ(c.messages, std::vector<std::string>{"Warning - Garbage at the end of the zipfile!"});
  EXPECT_EQ(c.m.ArchiveComment(), "short");
  EXPECT_EQ(c.m.EntryCount(), 3);
  EXPECT_EQ(c.m.LogicalSize(), bytes.size() + 35);
}

// End records from strangers: volume numbers and sizes that no real set has must be
// refused before any arithmetic or volume search is done with them.
TEST(DirectoryReader, ImpossibleVolumesAndSizes) {
  TempDir dir;
  const std::string path = MakePythonArchive(dir, "a.zip");
  const std::string good = ReadFile(path);
  const std::string tooMany = "A multi-volume set cannot have more than 999 volumes";
  for (const auto& [disk, startDisk] : {std::pair{0x7FFFFFFEu, 0x7FFFFFFEu}, std::pair{0xFFFFFFFFu, 0u},
                                        std::pair{3u, 0x7FFFFFFFu}}) {
    WriteFile(path, good);
    AddZip64Records(path, disk, startDisk, 3, 0, "ds");
    Reader r(path);
    EXPECT_EQ(r.messages, std::vector<std::string>{tooMany}) << disk << " " << startDisk;
    EXPECT_GE(r.m.LastDiskNo(), 0);
  }
  WriteFile(path, good);
  AddZip64Records(path, 0, 0, 3, 1ull << 63 | 5, "ds");
  Reader big(path);
  EXPECT_EQ(big.messages, std::vector<std::string>{"Seek error reading Zip archive!"});

  // The same in the 22-byte record: disk 0xFFFE, beside empty files with every number.
  std::string bad = good;
  bad.replace(good.rfind("PK\x05\x06") + 4, 2, LE16(0xFFFE));
  WriteFile(dir / "set000.zip", bad);
  for (int i = 1; i <= 999; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "set%03d.zip", i);
    WriteFile(dir / name, "");
  }
  Reader r(dir / "set000.zip");
  EXPECT_EQ(r.messages, std::vector<std::string>{tooMany});

  // A directory said to start on volume 1 of 999, where every volume is empty: the
  // search ends at the first volume that gives nothing.
  WriteFile(dir / "set999.zip", "PK\x05\x06" + LE16(998) + LE16(0) + LE16(1) + LE16(1) + LE32(46) + LE32(0) + LE16(0));
  Reader empty(dir / "set999.zip");
  EXPECT_EQ(empty.messages, std::vector<std::string>{"Error while reading a central header"});
  EXPECT_LE(empty.m.CurrentDiskNo(), 1);
}

// Records that other readers accept: a Zip64 end record with a wrong size field, and a
// directory offset beyond where the directory lies.
TEST(DirectoryReader, LenientRecords) {
  TempDir dir;
  const std::string path = MakeZip64Archive(dir,
                                            "d = bytearray(open(sys.argv[1], 'rb').read())\n"
                                            "z = d.rfind(b'PK\\x06\\x06')\n"
                                            "d[z+4:z+12] = (7).to_bytes(8, 'little')\n"
                                            "open(sys.argv[1], 'wb').write(d)\n");
  Reader r(path);
  EXPECT_EQ(r.m.EntryCount(), 5);
  EXPECT_TRUE(r.messages.empty()) << r.messages.front();

  const std::string plain = MakePythonArchive(dir, "a.zip");
  std::string bad = ReadFile(plain);
  const size_t eocd = bad.rfind("PK\x05\x06");
  bad.replace(eocd + 16, 4, LE32(uint32_t(eocd) + 100000));
  WriteFile(plain, bad);
  Reader far(plain);
  EXPECT_EQ(far.m.EntryCount(), 3);
  EXPECT_EQ(far.m.PrefixSize(), 0u);
  EXPECT_TRUE(far.m.OffsetMismatch());
}
