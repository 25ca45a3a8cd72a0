// Adding files with the built library; results checked by Info-ZIP, 7-Zip and Python.

#include "KilnCompress.h"
#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

using namespace kilntest;

namespace {

class KilnAdd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(t / "src/sub/deep");
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
  InDir here{t.Path()};
};

TEST_F(KilnAdd, TreeAtEachLevelPassesEveryPeerWithReportsInOrder) {
  for (int level : {0, 6, 9}) {
    SCOPED_TRACE(level);
    std::string archive = t / ("l" + std::to_string(level) + ".zip");
    Outcome out = kiln.Run(archive, {"src"}, Options{.recurse = true, .level = level});
    EXPECT_EQ(out.result, 10);
    EXPECT_EQ(out.Errors(), std::vector<std::string>{});
    EXPECT_EQ(PeerComplaints(archive), "");
    EXPECT_EQ(PythonCompare(archive, t.Path()), "OK\n");
    EXPECT_EQ(Names(archive), (std::set<std::string>{"src/", "src/big.txt", "src/rand.bin", "src/empty", "src/nodot",
                                                     "src/link", "src/sub/", "src/sub/a.txt", "src/sub/deep/",
                                                     "src/sub/deep/b.c"}));
    std::string listing = RunCommand("unzip -Z " + Quote(archive)).Output;
    EXPECT_NE(listing.find("lrwxrwxrwx"), std::string::npos) << listing;
    EXPECT_NE(listing.find("-rw-r-----"), std::string::npos) << listing;
    EXPECT_EQ(listing.find(" def") != std::string::npos, level != 0) << listing;  // stored only at level 0

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
  std::filesystem::create_directories(t / "sizes");
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
    Outcome out = kiln.Run(archive, {"sizes/*"}, Options{.level = level});
    SCOPED_TRACE(level);
    EXPECT_EQ(out.result, static_cast<int>(2 * sizes.size() + 1)) << testing::PrintToString(out.Errors());
    EXPECT_EQ(PeerComplaints(archive), "");
    EXPECT_EQ(PythonCompare(archive, t.Path()), "OK\n");

    // Text shrinks; noise grows by stored blocks' 5 bytes per 65535 and a few per join.
    EXPECT_EQ(Python(R"PY(
import sys, zipfile
block, noise = int(sys.argv[2]), 0
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    name, size, packed = i.filename, i.file_size, i.compress_size
    if name.startswith('sizes/t') and size > 65536 and packed >= size // 2: print('not shrunk', name, packed)
    if name.startswith('sizes/r') and size:
        noise += 1
        if i.compress_type != 8 or packed > size + 5 * -(-size // 65535) + 16 * -(-size // block): print('grown', name, packed)
print(noise)
)PY",
                     {archive, std::to_string(block)}),
              std::to_string(sizes.size() - 1) + "\n");
  }
}

// Absolute and "./" names; "*.*" also takes names without a dot; hidden files only on request
// or by a pattern starting with a dot; patterns in every subfolder; 8.3 names; ".." and
// special files skipped while the rest goes in.
TEST_F(KilnAdd, StoredNamesFollowTheOptionsAndUnsafeInputIsSkipped) {
  std::filesystem::create_directories(t / "inner");
  ASSERT_EQ(mkfifo((t / "inner/pipe").c_str(), 0600), 0);
  WriteFile(t / "src/sub/Long Name.text", "x");
  const std::string abs = t / "src/sub/a.txt";
  struct Case {
    std::vector<std::string> specs;
    Options options;
    std::set<std::string> names;
    std::vector<std::pair<int32_t, std::string>> errors;
    std::string dir = ".";
  };
  const Case cases[] = {
      {{abs, "./src/*.*", "nothing*.q"}, {},
       {abs.substr(1), "src/big.txt", "src/rand.bin", "src/empty", "src/nodot", "src/link", "src/sub/"},
       {{kLibErrNoMatch, "nothing*.q"}}},
      {{"src/.*"}, {}, {"src/.hidden"}, {}},
      {{"src/*.*"}, {.hidden = true, .noDirNames = true, .recurse = true},
       {".hidden", "big.txt", "rand.bin", "empty", "nodot", "link", "a.txt", "b.c", "Long Name.text"}, {}},
      {{"src/sub/*.t*"}, {.noDirEntries = true, .recurse = true, .forceDos = true},
       {"SRC/SUB/A.TXT", "SRC/SUB/LONGNAME.TEX"}, {}},
      {{"../src/nodot", "pipe", "/" + abs.substr(1)}, {}, {abs.substr(1)},
       {{kLibErrSkipped, ".."}, {kLibErrSkipped, "pipe"}}, "inner"},
      {{"../src/nodot"}, {.noDirNames = true}, {"nodot"}, {}, "inner"},  // ".." does no harm here
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.specs));
    const std::string archive = t / ("n" + std::to_string(n++) + ".zip");
    InDir in(t / c.dir);
    Outcome out = kiln.Run(archive, c.specs, c.options);
    EXPECT_EQ(Names(archive), c.names);
    EXPECT_EQ(out.result, static_cast<int>(c.names.size()));
    EXPECT_EQ(out.Errors().size(), c.errors.size()) << testing::PrintToString(out.Errors());
    for (const auto& [code, fragment] : c.errors) EXPECT_TRUE(out.HasError(code, fragment)) << fragment;
  }
}

TEST_F(KilnAdd, UpdateAndFreshenCompareTimes) {
  std::filesystem::create_directories(t / "u");
  WriteFile(t / "u/a.txt", "old a");
  WriteFile(t / "u/b.txt", "old b");
  SetTime(t / "u/a.txt", 1600000000);
  SetTime(t / "u/b.txt", 1600000000);
  ASSERT_EQ(kiln.Run(t / "u.zip", {"u/*"}, Options{}).result, 2);

  WriteFile(t / "u/a.txt", "new a, longer");
  SetTime(t / "u/a.txt", 1700000000);
  WriteFile(t / "u/c.txt", "new c");
  EXPECT_EQ(kiln.Run(t / "u.zip", {"u/*"}, Options{.freshen = true}).result, 1);
  EXPECT_EQ(Names(t / "u.zip"), (std::set<std::string>{"u/a.txt", "u/b.txt"}));
  EXPECT_EQ(Unzipped(t / "u.zip", "u/a.txt"), "new a, longer");

  EXPECT_EQ(kiln.Run(t / "u.zip", {"u/*"}, Options{.update = true}).result, 1);
  EXPECT_EQ(Names(t / "u.zip"), (std::set<std::string>{"u/a.txt", "u/b.txt", "u/c.txt"}));
  EXPECT_EQ(PythonCompare(t / "u.zip", t.Path()), "OK\n");
}

TEST_F(KilnAdd, MoveRemovesSourcesAfterWritingAndZipTimeDatesTheArchive) {
  SetTime(t / "src/sub/a.txt", 1500000000);
  SetTime(t / "src/sub/deep/b.c", 1600000000);
  SetTime(t / "src/sub/deep", 1400000000);  // folder entries count too
  SetTime(t / "src/sub", 1400000000);
  Outcome out = kiln.Run(t / "m.zip", {"src/sub"}, Options{.recurse = true, .move = true, .zipTime = true});
  EXPECT_EQ(out.result, 4) << testing::PrintToString(out.Errors());
  EXPECT_FALSE(std::ifstream(t / "src/sub/a.txt").good());
  EXPECT_FALSE(access((t / "src/sub").c_str(), F_OK) == 0);  // emptied folders go too
  EXPECT_TRUE(std::ifstream(t / "src/big.txt").good());
  struct stat st;
  ASSERT_EQ(stat((t / "m.zip").c_str(), &st), 0);
  EXPECT_NEAR(st.st_mtime, 1600000000, 2);
  EXPECT_EQ(Unzipped(t / "m.zip", "src/sub/a.txt"), "alpha\n");
}

TEST_F(KilnAdd, EncryptionReadsBackWithThePasswordEverywhere) {
  Options o{.encrypt = true, .recurse = true, .password = "pa55 word"};
  for (int level : {6, 0}) {
    o.level = level;
    const std::string archive = t / ("e" + std::to_string(level) + ".zip");
    EXPECT_EQ(kiln.Run(archive, {"src"}, o).result, 10);
    EXPECT_EQ(RunCommand("unzip -t -P " + Quote(o.password) + " " + Quote(archive)).Status, 0) << level;
    EXPECT_EQ(RunCommand("7zz t -p" + Quote(o.password) + " " + Quote(archive)).Status, 0) << level;
    EXPECT_NE(RunCommand("unzip -t -P wrong " + Quote(archive)).Status, 0) << level;
    EXPECT_EQ(PythonCompare(archive, t.Path(), o.password), "OK\n") << level;
  }

  // No password given: asked through the callback with the entry name.
  std::string asked;
  Options ask{.encrypt = true, .onCallback = [&](CallbackRecord& r) {
                if (r.ActionCode != kActionPassword) return 0;
                asked = r.Text;
                std::strcpy(r.Text, "given");
                return 0;
              }};
  EXPECT_EQ(kiln.Run(t / "f.zip", {"src/nodot"}, ask).result, 1);
  EXPECT_EQ(asked, "src/nodot");
  EXPECT_EQ(RunCommand("unzip -t -P given " + Quote(t / "f.zip")).Status, 0);

  // Refused, or an unattended component that answers without a password: nothing written.
  const Options refused{.encrypt = true, .onCallback = [](CallbackRecord& r) { return r.ActionCode == kActionPassword ? -1 : 0; }};
  for (const Options& none : {refused, Options{.attended = false, .encrypt = true}}) {
    Outcome out = kiln.Run(t / "g.zip", {"src/nodot"}, none);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.HasError(kLibErrPassword, "src/nodot"));
    EXPECT_FALSE(std::ifstream(t / "g.zip").good());
  }
}

// An archive written elsewhere: names in code pages, one with a Unicode path field, extra
// fields Tessera does not know. Adding a file and replacing another leaves every other entry's
// central record (but its offset), local header and data byte for byte, in its place.
TEST_F(KilnAdd, OtherEntriesKeepTheirStoredNamesAndExtraFields) {
  const std::string archive = t / "foreign.zip", before = t / "before.zip";
  Python(R"PY(
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
)PY", {archive});
  ASSERT_EQ(Names(archive).size(), 5u);
  WriteFile(before, ReadFile(archive));
  WriteFile(t / "plain.txt", "replaced\n");
  WriteFile(t / "new.txt", TextBytes(20000, 5));
  Outcome out = kiln.Run(archive, {"plain.txt", "new.txt"}, Options{});
  EXPECT_EQ(out.result, 2) << testing::PrintToString(out.Errors());

  EXPECT_EQ(KeptVerbatim(before, archive, {"plain.txt"}), "\nOK\n");
  // The replaced entry keeps its place; the new one comes last.
  EXPECT_EQ(Python("import sys, zipfile\nprint(*[i.filename for i in zipfile.ZipFile(sys.argv[1]).infolist()][2::3])",
                   {archive}),
            "plain.txt new.txt\n");
  EXPECT_EQ(PeerComplaints(archive), "");
  EXPECT_EQ(Unzipped(archive, "plain.txt"), "replaced\n");
  EXPECT_EQ(Unzipped(archive, "new.txt"), TextBytes(20000, 5));
}

// Reached through a symbolic link and private to its owner: an add and a delete change the
// file the link points to, keep the link, and keep the mode.
TEST_F(KilnAdd, ArchiveKeepsItsLinkAndItsMode) {
  ASSERT_EQ(kiln.Run(t / "real.zip", {"src/nodot"}, Options{}).result, 1);
  ASSERT_EQ(chmod((t / "real.zip").c_str(), 0600), 0);
  ASSERT_EQ(symlink("real.zip", (t / "link.zip").c_str()), 0);
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(kiln.Run(t / "link.zip", {run == 0 ? "src/sub/a.txt" : "src/nodot"}, Options{.deleteOn = run == 1}).result, 1);
    struct stat st;
    ASSERT_EQ(lstat((t / "link.zip").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << run;
    ASSERT_EQ(stat((t / "real.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << run;
  }
  EXPECT_EQ(Names(t / "real.zip"), std::set<std::string>{"src/sub/a.txt"});
}

}  // namespace
