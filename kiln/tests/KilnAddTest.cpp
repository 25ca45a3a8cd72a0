// Adding files with the built library; results checked by Info-ZIP, 7-Zip and Python.

#include "KilnCompress.h"
#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

using namespace kilntest;

namespace {

std::set<std::string> Names(const std::string& archive) {
  std::set<std::string> names;
  std::string out = Shell("unzip -Z1 " + Q(archive)).output;
  size_t i = 0;
  while (i < out.size()) {
    size_t j = out.find('\n', i);
    if (j == std::string::npos) j = out.size();
    if (j > i) names.insert(out.substr(i, j - i));
    i = j + 1;
  }
  return names;
}

class KilnAdd : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(t / "src/sub/deep");
    WriteFile(t / "src/big.txt", TextBytes(700000, 1));  // several worker blocks
    WriteFile(t / "src/rand.bin", RandomBytes(300000, 2));
    WriteFile(t / "src/empty", "");
    WriteFile(t / "src/nodot", "no extension\n");
    WriteFile(t / "src/.hidden", "secret\n");
    WriteFile(t / "src/sub/a.txt", "alpha\n");
    WriteFile(t / "src/sub/deep/b.c", "int b;\n");
    chmod((t / "src/sub/a.txt").c_str(), 0640);
    symlink("big.txt", (t / "src/link").c_str());
  }

  TempDir t;
  Kiln kiln{CurrentLibrary()};
};

TEST_F(KilnAdd, TreeAtEachLevelPassesEveryPeerWithReportsInOrder) {
  InDir here(t.Path());
  for (int level : {0, 6, 9}) {
    std::string archive = t / ("l" + std::to_string(level) + ".zip");
    Options o;
    o.recurse = true;
    o.level = level;
    Outcome out = kiln.Run(archive, {"src"}, o);
    EXPECT_EQ(out.result, 10) << testing::PrintToString(out.Errors());
    EXPECT_TRUE(out.Errors().empty()) << testing::PrintToString(out.Errors());
    Command unzip = Shell("unzip -t " + Q(archive));
    EXPECT_EQ(unzip.status, 0) << unzip.output;
    Command sevenzip = Shell("7zz t " + Q(archive));
    EXPECT_EQ(sevenzip.status, 0) << sevenzip.output;
    EXPECT_EQ(PythonCompare(archive, t.Path()), "OK\n");
    EXPECT_EQ(Names(archive), (std::set<std::string>{"src/", "src/big.txt", "src/rand.bin", "src/empty", "src/nodot",
                                                     "src/link", "src/sub/", "src/sub/a.txt", "src/sub/deep/",
                                                     "src/sub/deep/b.c"}));
    std::string listing = Shell("unzip -Z " + Q(archive)).output;
    EXPECT_NE(listing.find("lrwxrwxrwx"), std::string::npos) << listing;
    EXPECT_NE(listing.find("-rw-r-----"), std::string::npos) << listing;
    std::string verbose = Shell("unzip -Z -v " + Q(archive) + " src/big.txt").output;
    EXPECT_NE(verbose.find(level == 0 ? "none (stored)" : "deflated"), std::string::npos) << verbose;

    // Totals first, steps of at most 1 MiB adding up to the total, end of batch last.
    ASSERT_GE(out.events.size(), 3u);
    EXPECT_EQ(out.events[0].action, kActionTotalSize);
    EXPECT_EQ(out.events[1].action, kActionTotalFiles);
    EXPECT_EQ(out.events[1].size, 10);
    EXPECT_EQ(out.events.back().action, kActionEndOfBatch);
    int64_t progress = 0, newFiles = 0;
    for (auto& e : out.events) {
      if (e.action == kActionProgress) {
        EXPECT_LE(e.size, 1 << 20);
        progress += e.size;
      }
      newFiles += e.action == kActionNewFile;
    }
    EXPECT_EQ(progress, out.events[0].size);
    EXPECT_EQ(newFiles, 10);
  }
}

// Sizes on each side of the encoder's and the readers' boundaries, text and incompressible
// bytes, at the fastest, the usual and the smallest level: every peer reads back the files, and
// incompressible data is stored, not grown.
TEST_F(KilnAdd, EverySizeAroundTheBlockBoundariesRoundTripsAtEachLevel) {
  InDir here(t.Path());
  MakeDirs(t / "sizes");
  const size_t block = kiln::kBlockSize;
  std::vector<size_t> sizes = {0, 1, 65535, 65536, 65537, 262143, 262144, 262145, block - 1, block, block + 1,
                               3 * block + 12345};
  for (size_t i = 0; i < sizes.size(); ++i) {
    WriteFile(t / ("sizes/t" + std::to_string(sizes[i])), TextBytes(sizes[i], static_cast<unsigned>(i)));
    WriteFile(t / ("sizes/r" + std::to_string(sizes[i])), RandomBytes(sizes[i], static_cast<unsigned>(i)));
  }
  // Text and incompressible bytes taking turns within one file, so that blocks of either kind
  // join blocks of the other.
  std::string mixed;
  for (unsigned i = 0; mixed.size() < 3 * block; ++i) mixed += i % 2 ? RandomBytes(300000, i) : TextBytes(500000, i);
  WriteFile(t / "sizes/mixed", mixed);

  for (int level : {1, 6, 9}) {
    const std::string archive = t / ("s" + std::to_string(level) + ".zip");
    Options o;
    o.level = level;
    Outcome out = kiln.Run(archive, {"sizes/*"}, o);
    EXPECT_EQ(out.result, static_cast<int>(2 * sizes.size() + 1)) << testing::PrintToString(out.Errors());
    Command unzip = Shell("unzip -t " + Q(archive));
    EXPECT_EQ(unzip.status, 0) << unzip.output;
    Command sevenzip = Shell("7zz t " + Q(archive));
    EXPECT_EQ(sevenzip.status, 0) << sevenzip.output;
    EXPECT_EQ(PythonCompare(archive, t.Path()), "OK\n") << level;

    // Stored blocks carry 5 bytes per 65535; libdeflate's block splits and each join cost a
    // few more per block.
    Command sizesRead = Shell(std::string(TESSERA_PYTHON) + " -c " +
                              Q("import sys, zipfile\n"
                                "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                "    print(i.filename, i.file_size, i.compress_size, i.compress_type)\n") +
                              " " + Q(archive));
    std::istringstream lines(sizesRead.output);
    std::string name;
    uint64_t size, packed;
    int method;
    int randomFiles = 0;
    while (lines >> name >> size >> packed >> method) {
      if (name.rfind("sizes/r", 0) != 0 || size == 0) continue;
      ++randomFiles;
      EXPECT_EQ(method, 8) << name;
      const uint64_t bound = size + 5 * ((size + 65534) / 65535) + 16 * ((size + block - 1) / block);
      EXPECT_LE(packed, bound) << name << " at level " << level;
    }
    EXPECT_EQ(randomFiles, static_cast<int>(sizes.size()) - 1) << sizesRead.output;
  }
}

TEST_F(KilnAdd, StoredNamesFollowTheOptions) {
  InDir here(t.Path());
  Options o;
  // Absolute and "./" names; "*.*" also takes names without a dot; hidden skipped.
  std::string abs = t / "src/sub/a.txt";
  Outcome out = kiln.Run(t / "a.zip", {abs, "./src/*.*", "nothing*.q"}, o);
  EXPECT_TRUE(out.HasError(kLibErrNoMatch, "nothing*.q"));
  std::set<std::string> names = Names(t / "a.zip");
  EXPECT_TRUE(names.count(abs.substr(1))) << testing::PrintToString(names);
  for (const char* n : {"src/nodot", "src/empty", "src/big.txt", "src/sub/", "src/link"}) EXPECT_TRUE(names.count(n)) << n;
  EXPECT_FALSE(names.count("src/.hidden"));
  EXPECT_EQ(out.result, static_cast<int>(names.size()));

  // A pattern that starts with a dot asks for hidden names.
  EXPECT_EQ(kiln.Run(t / "h.zip", {"src/.*"}, o).result, 1);
  EXPECT_EQ(Names(t / "h.zip"), std::set<std::string>{"src/.hidden"});

  // Hidden files on request; bare names; no folder entries.
  o.hidden = true;
  o.noDirNames = true;
  o.recurse = true;
  out = kiln.Run(t / "b.zip", {"src/*.*"}, o);
  EXPECT_EQ(Names(t / "b.zip"), (std::set<std::string>{".hidden", "big.txt", "rand.bin", "empty", "nodot", "link",
                                                        "a.txt", "b.c"}));

  // Patterns apply in every subfolder; 8.3 upper-case names.
  WriteFile(t / "src/sub/Long Name.text", "x");
  Options dos;
  dos.recurse = true;
  dos.forceDos = true;
  dos.noDirEntries = true;
  out = kiln.Run(t / "c.zip", {"src/sub/*.t*"}, dos);
  EXPECT_EQ(Names(t / "c.zip"), (std::set<std::string>{"SRC/SUB/A.TXT", "SRC/SUB/LONGNAME.TEX"}));
}

TEST_F(KilnAdd, UnsafeAndSpecialInputIsRefusedAndTheBatchGoesOn) {
  MakeDirs(t / "inner");
  ASSERT_EQ(mkfifo((t / "src/pipe").c_str(), 0600), 0);
  InDir here(t / "inner");
  Options o;
  Outcome out = kiln.Run(t / "a.zip", {"../src/nodot", "../src/pipe", "/" + (t / "src/sub/a.txt").substr(1)}, o);
  EXPECT_TRUE(out.HasError(kLibErrSkipped, "..")) << testing::PrintToString(out.Errors());
  EXPECT_TRUE(out.HasError(kLibErrSkipped, "pipe"));
  EXPECT_EQ(out.result, 1);
  for (const auto& n : Names(t / "a.zip")) EXPECT_EQ(n.find(".."), std::string::npos) << n;

  // Without folder names ".." does no harm: only the bare name is stored.
  o.noDirNames = true;
  out = kiln.Run(t / "b.zip", {"../src/nodot"}, o);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(Names(t / "b.zip"), std::set<std::string>{"nodot"});
}

TEST_F(KilnAdd, UpdateAndFreshenCompareTimes) {
  InDir here(t.Path());
  MakeDirs(t / "u");
  WriteFile(t / "u/a.txt", "old a");
  WriteFile(t / "u/b.txt", "old b");
  SetTime(t / "u/a.txt", 1600000000);
  SetTime(t / "u/b.txt", 1600000000);
  Options o;
  ASSERT_EQ(kiln.Run(t / "u.zip", {"u/*"}, o).result, 2);

  WriteFile(t / "u/a.txt", "new a, longer");
  SetTime(t / "u/a.txt", 1700000000);
  WriteFile(t / "u/c.txt", "new c");
  Options freshen;
  freshen.freshen = true;
  EXPECT_EQ(kiln.Run(t / "u.zip", {"u/*"}, freshen).result, 1);
  EXPECT_EQ(Names(t / "u.zip"), (std::set<std::string>{"u/a.txt", "u/b.txt"}));
  EXPECT_EQ(Shell("unzip -p " + Q(t / "u.zip") + " u/a.txt").output, "new a, longer");

  Options update;
  update.update = true;
  EXPECT_EQ(kiln.Run(t / "u.zip", {"u/*"}, update).result, 1);
  EXPECT_EQ(Names(t / "u.zip"), (std::set<std::string>{"u/a.txt", "u/b.txt", "u/c.txt"}));
  EXPECT_EQ(PythonCompare(t / "u.zip", t.Path()), "OK\n");
}

TEST_F(KilnAdd, MoveRemovesSourcesAfterWritingAndZipTimeDatesTheArchive) {
  InDir here(t.Path());
  SetTime(t / "src/sub/a.txt", 1500000000);
  SetTime(t / "src/sub/deep/b.c", 1600000000);
  SetTime(t / "src/sub/deep", 1400000000);  // folder entries count too
  SetTime(t / "src/sub", 1400000000);
  Options o;
  o.move = true;
  o.zipTime = true;
  o.recurse = true;
  Outcome out = kiln.Run(t / "m.zip", {"src/sub"}, o);
  EXPECT_EQ(out.result, 4) << testing::PrintToString(out.Errors());
  EXPECT_FALSE(std::ifstream(t / "src/sub/a.txt").good());
  EXPECT_FALSE(access((t / "src/sub").c_str(), F_OK) == 0);  // emptied folders go too
  EXPECT_TRUE(std::ifstream(t / "src/big.txt").good());
  struct stat st;
  ASSERT_EQ(stat((t / "m.zip").c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, 1600000000 - 2);
  EXPECT_LE(st.st_mtime, 1600000000 + 2);
  EXPECT_EQ(Shell("unzip -p " + Q(t / "m.zip") + " src/sub/a.txt").output, "alpha\n");
}

TEST_F(KilnAdd, EncryptionReadsBackWithThePasswordEverywhere) {
  InDir here(t.Path());
  Options o;
  o.encrypt = true;
  o.recurse = true;
  o.password = "pa55 word";
  EXPECT_EQ(kiln.Run(t / "e.zip", {"src"}, o).result, 10);
  EXPECT_EQ(Shell("unzip -t -P " + Q(o.password) + " " + Q(t / "e.zip")).status, 0);
  EXPECT_EQ(Shell("7zz t -p" + Q(o.password) + " " + Q(t / "e.zip")).status, 0);
  EXPECT_NE(Shell("unzip -t -P wrong " + Q(t / "e.zip")).status, 0);
  EXPECT_EQ(PythonCompare(t / "e.zip", t.Path(), o.password), "OK\n");
  o.level = 0;
  EXPECT_EQ(kiln.Run(t / "e0.zip", {"src"}, o).result, 10);
  EXPECT_EQ(Shell("unzip -t -P " + Q(o.password) + " " + Q(t / "e0.zip")).status, 0);

  // No password given: asked through the callback with the entry name.
  Options ask;
  ask.encrypt = true;
  std::string asked;
  ask.onCallback = [&](CallbackRecord& r) {
    if (r.ActionCode == kActionPassword) {
      asked = r.Text;
      std::strcpy(r.Text, "given");
    }
    return 0;
  };
  EXPECT_EQ(kiln.Run(t / "f.zip", {"src/nodot"}, ask).result, 1);
  EXPECT_EQ(asked, "src/nodot");
  EXPECT_EQ(Shell("unzip -t -P given " + Q(t / "f.zip")).status, 0);

  // Refused, or an unattended component that answers without a password: nothing written.
  ask.onCallback = [](CallbackRecord& r) { return r.ActionCode == kActionPassword ? -1 : 0; };
  Outcome refused = kiln.Run(t / "g.zip", {"src/nodot"}, ask);
  EXPECT_EQ(refused.result, 0);
  EXPECT_TRUE(refused.HasError(kLibErrPassword, "src/nodot"));
  Options unattended;
  unattended.encrypt = true;
  unattended.attended = false;
  Outcome out = kiln.Run(t / "g.zip", {"src/nodot"}, unattended);
  EXPECT_EQ(out.result, 0);
  EXPECT_TRUE(out.HasError(kLibErrPassword, "src/nodot"));
  EXPECT_FALSE(std::ifstream(t / "g.zip").good());
}

// An archive written elsewhere: names in code pages, one with a Unicode path field, extra
// fields Tessera does not know. Adding a file and replacing another leaves every other entry's
// central record (but its offset), local header and data byte for byte, in its place.
TEST_F(KilnAdd, OtherEntriesKeepTheirStoredNamesAndExtraFields) {
  InDir here(t.Path());
  const std::string archive = t / "foreign.zip", before = t / "before.zip";
  Command made = Shell(std::string(TESSERA_PYTHON) + " -c " + Q(R"PY(
import struct, sys, zlib
def field(tag, data): return struct.pack('<HH', tag, len(data)) + data
def upath(name, raw): return field(0x7075, struct.pack('<BI', 1, zlib.crc32(raw)) + name.encode())
entries = [('新しいフォルダ/テキスト.txt', 'cp932', 0, lambda n, r: upath(n, r) + field(0xCAFE, b'\1\2\3')),
           ('Документы/Отчёт.txt', 'cp866', 0, lambda n, r: field(0x000A, bytes(32)) + field(0x5455, b'\1\0\0\0\0')),
           ('plain.txt', 'ascii', 0, lambda n, r: b''),
           ('Grüße.txt', 'utf-8', 0x800, lambda n, r: field(0xCAFE, b'x')),
           ('tail.txt', 'ascii', 0, lambda n, r: b'')]
body, central = b'', b''
for n, cp, flags, extra in entries:
    raw, data = n.encode(cp), ('text of ' + n + '\n').encode() * 50
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    packed = packer.compress(data) + packer.flush()
    x, crc = extra(n, raw), zlib.crc32(data)
    central += struct.pack('<IHHHHIIIIHHHHHII', 0x02014B50, 0x0B14, 20, flags, 8, 0x56B15000, crc, len(packed), len(data),
                           len(raw), len(x), 0, 0, 0, 0x20, len(body)) + raw + x
    body += struct.pack('<IHHHIIIIHH', 0x04034B50, 20, flags, 8, 0x56B15000, crc, len(packed), len(data), len(raw),
                        len(x)) + raw + x + packed
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(body), 0)
open(sys.argv[1], 'wb').write(body + central + end)
)PY") + " " + Q(archive));
  ASSERT_EQ(made.status, 0) << made.output;
  WriteFile(before, ReadFile(archive));
  WriteFile(t / "plain.txt", "replaced\n");
  WriteFile(t / "new.txt", TextBytes(20000, 5));
  Outcome out = kiln.Run(archive, {"plain.txt", "new.txt"}, Options{});
  EXPECT_EQ(out.result, 2) << testing::PrintToString(out.Errors());

  // Each entry: its stored name, its central record with the offset blanked, its local header
  // and data; the old entries compared with the new ones in directory order.
  Command compared = Shell(std::string(TESSERA_PYTHON) + " -c " + Q(R"PY(
import struct, sys
def entries(path):
    b = open(path, 'rb').read()
    e = b.rfind(b'PK\x05\x06')
    count, at = struct.unpack('<H', b[e + 10:e + 12])[0], struct.unpack('<I', b[e + 16:e + 20])[0]
    found = []
    for _ in range(count):
        n, x, c = struct.unpack('<HHH', b[at + 28:at + 34])
        record = bytearray(b[at:at + 46 + n + x + c])
        local = struct.unpack('<I', record[42:46])[0]
        record[42:46] = bytes(4)
        ln, lx = struct.unpack('<HH', b[local + 26:local + 30])
        packed = struct.unpack('<I', record[20:24])[0]
        found.append((bytes(record[46:46 + n]), bytes(record), b[local:local + 30 + ln + lx + packed]))
        at += len(record)
    return found
old, new = entries(sys.argv[1]), entries(sys.argv[2])
names = [e[0] for e in new]
bad = [o[0] for o, n in zip(old, new) if o[0] != b'plain.txt' and o != n]
print('OK' if not bad and len(new) == len(old) + 1 and names[2] == b'plain.txt' and names[-1] == b'new.txt'
      else (bad, names))
)PY") + " " + Q(before) + " " + Q(archive));
  EXPECT_EQ(compared.output, "OK\n");
  Command unzip = Shell("unzip -t " + Q(archive));
  EXPECT_EQ(unzip.status, 0) << unzip.output;
  Command sevenzip = Shell("7zz t " + Q(archive));
  EXPECT_EQ(sevenzip.status, 0) << sevenzip.output;
  EXPECT_EQ(Shell("unzip -p " + Q(archive) + " plain.txt").output, "replaced\n");
  EXPECT_EQ(Shell("unzip -p " + Q(archive) + " new.txt").output, TextBytes(20000, 5));
}

TEST_F(KilnAdd, ArchiveKeepsItsLinkAndItsMode) {
  // Reached through a symbolic link and private to its owner: an add and a delete change the
  // file the link points to, keep the link, and keep the mode.
  InDir here(t.Path());
  ASSERT_EQ(kiln.Run(t / "real.zip", {"src/nodot"}, Options{}).result, 1);
  ASSERT_EQ(chmod((t / "real.zip").c_str(), 0600), 0);
  ASSERT_EQ(symlink("real.zip", (t / "link.zip").c_str()), 0);
  Options del;
  del.deleteOn = true;
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(kiln.Run(t / "link.zip", {run == 0 ? "src/sub/a.txt" : "src/nodot"}, run == 0 ? Options{} : del).result, 1);
    struct stat st;
    ASSERT_EQ(lstat((t / "link.zip").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << run;
    ASSERT_EQ(stat((t / "real.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << run;
  }
  EXPECT_EQ(Names(t / "real.zip"), std::set<std::string>{"src/sub/a.txt"});
}

}  // namespace
