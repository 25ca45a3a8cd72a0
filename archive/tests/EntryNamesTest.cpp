// Names stored without the UTF-8 flag, in the code pages of Windows systems around the
// world: listed, extracted, added to and deleted from through the real libraries.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "MarlinOp.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string kCorpusScript = TESSERA_NAMES_CORPUS;

struct Names : Op {
  std::vector<std::string> List(const std::string& archive, int codePage = 0) {
    m.SetNameCodePage(codePage);
    m.SetZipFilename(archive);
    m.List();
    return EntryNamesOf(m);
  }
  // Extracts the named entries (every one when none) below `to`; the files written there.
  std::vector<std::string> Extract(const fs::path& to, const std::vector<std::string>& specs = {}) {
    fs::create_directories(to);
    m.SetExtrBaseDir(to.string());
    m.SetExtrOptions({ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite});
    m.SetFSpecArgs(specs);
    m.Extract();
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(to))
      if (e.is_regular_file()) files.push_back(fs::relative(e.path(), to).string());
    std::sort(files.begin(), files.end());
    return files;
  }
};

// The archives the tests write with Python's codecs: file, code page, names.
struct CorpusArchive {
  std::string file, codePage;
  std::vector<std::string> names;
};

std::vector<CorpusArchive> MakeCorpus(const TempDir& dir, int perLanguage) {
  Python("import runpy, sys\nsys.argv = sys.argv[1:]\nrunpy.run_path(sys.argv[0], run_name='__main__')\n",
         {kCorpusScript, dir.Path().string(), std::to_string(perLanguage)});
  std::vector<CorpusArchive> corpus;
  std::istringstream lines(ReadFile(dir / "corpus.tsv"));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
    corpus.push_back({dir / fields[0], fields[1], {fields.begin() + 2, fields.end()}});
  }
  return corpus;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char b[3];
  for (unsigned char c : bytes) std::snprintf(b, sizeof b, "%02x", c), hex += b;
  return hex;
}

// A Unicode path field for `stored` holding `text`, its CRC taken from `crcOf`.
std::string UnicodeField(const std::string& crcOf, const std::string& text, uint16_t id = 0x7075) {
  const std::string crc = Python("import sys, zlib\nprint(zlib.crc32(bytes.fromhex(sys.argv[1])))\n", {Hex(crcOf)});
  return LE16(id) + LE16(uint16_t(5 + text.size())) + std::string(1, '\1') + LE32(uint32_t(std::stoul(crc))) + text;
}

// The central records of an archive (name, extra field and comment with the flags), by
// stored name: what add and delete must keep byte for byte.
std::map<std::string, std::string> CentralRecords(const std::string& archive) {
  const std::string out = Python(R"PY(
import struct, sys
d = open(sys.argv[1], 'rb').read()
e = d.rfind(b'PK\x05\x06')
size, off = struct.unpack('<II', d[e + 12:e + 20])
p = off
while p < off + size:
    nl, el, cl = struct.unpack('<HHH', d[p + 28:p + 34])
    print(d[p + 46:p + 46 + nl].hex(), d[p + 8:p + 10].hex() + d[p + 46:p + 46 + nl + el + cl].hex())
    p += 46 + nl + el + cl
)PY",
                                 {archive});
  std::map<std::string, std::string> records;
  std::istringstream in(out);
  for (std::string name, record; in >> name >> record;) records[name] = record;
  return records;
}

}  // namespace

TEST(EntryNames, CorpusNamedRightWithoutOption) {
  TempDir dir;
  const std::vector<CorpusArchive> corpus = MakeCorpus(dir, 12);
  int fiveOrMore = 0, fiveOrMoreRight = 0, all = 0, allRight = 0;
  std::string failures;
  for (const CorpusArchive& a : corpus) {
    Names n;
    const bool right = n.List(a.file) == a.names;
    ++all, allRight += right;
    if (a.names.size() >= 5) ++fiveOrMore, fiveOrMoreRight += right;
    if (!right) {
      failures += "  " + a.codePage + " archive of " + std::to_string(a.names.size()) + " names read as " +
                  std::to_string(n.m.ArchiveCodePage()) + ": " + a.names[0] + "\n";
    } else if (a.codePage == "utf-8") {
      EXPECT_EQ(n.m.ArchiveCodePage(), 65001);
    }
  }
  std::printf("corpus: %d of %d archives of five names or more named right, %d of %d in all\n%s", fiveOrMoreRight,
              fiveOrMore, allRight, all, failures.c_str());
  EXPECT_EQ(fiveOrMoreRight, fiveOrMore) << failures;
  EXPECT_GE(allRight * 10, all * 8) << failures;
}

TEST(EntryNames, CorpusExtractsWithItsNames) {
  TempDir dir;
  const std::vector<CorpusArchive> corpus = MakeCorpus(dir, 6);
  for (const CorpusArchive& a : corpus) {
    if (a.names.size() != 12) continue;  // the largest of each code page
    Names n;
    n.List(a.file);
    std::vector<std::string> expected = a.names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(n.Extract(dir.Path() / ("out_" + a.codePage)), expected) << a.codePage;
    EXPECT_EQ(n.m.SuccessCount(), 12) << a.codePage;
  }
}

TEST(EntryNames, UnicodeFieldsWithRightAndWrongCrc) {
  TempDir dir;
  // The stored name is code page 866; the field tells the name, unless its CRC is not the
  // stored name's (a tool renamed the entry without knowing the field).
  const std::string stored = "\x84\xae\xaa\xe3\xac\xa5\xad\xe2.txt";  // "Документ.txt" in cp866
  const std::string field = "Dokument \u2116 1.txt";
  WriteFile(dir / "fields.zip",
            CraftArchive({{stored, UnicodeField(stored, field)},
                   {"x" + stored, UnicodeField(stored, "wrong.txt")},
                   {"plain.txt", UnicodeField("other", "ignored.txt")},
                   {"c" + stored, UnicodeField("c" + stored, "comment-kind.txt", 0x6375)},
                   // An ASCII stand-in for a name the writer's code page lacks, and a field
                   // that would lead out of the folder.
                   {"__.txt", UnicodeField("__.txt", "\u00e9t\u00e9.txt")},
                   {"safe.txt", UnicodeField("safe.txt", "../escaped.txt")}}));
  Names n;
  const std::vector<std::string> names = n.List(dir / "fields.zip");
  ASSERT_EQ(names.size(), 6u);
  EXPECT_EQ(names[4], "\u00e9t\u00e9.txt");
  EXPECT_EQ(names[5], "../escaped.txt");
  EXPECT_EQ(names[0], field);
  EXPECT_EQ(names[1], "x\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442.txt");  // judged cp866
  EXPECT_EQ(names[2], "plain.txt");
  EXPECT_EQ(names[3], "c\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442.txt");  // a comment field names nothing
  EXPECT_EQ(n.m.ArchiveCodePage(), 866);
  EXPECT_EQ(n.Extract(dir.Path() / "out"),
            (std::vector<std::string>{field, "c\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442.txt", "plain.txt",
                                      "x\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442.txt", "\u00e9t\u00e9.txt"}));
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
}

TEST(EntryNames, ChosenCodePageOverridesTheJudgement) {
  TempDir dir;
  const std::string path = dir / "ja.zip";
  WriteFile(path, CraftArchive({{Sjis("資料/会議.txt"), ""}, {Sjis("新しいフォルダー/テキスト.txt"), ""}}));
  Names n;
  EXPECT_EQ(n.List(path), (std::vector<std::string>{"資料/会議.txt", "新しいフォルダー/テキスト.txt"}));
  EXPECT_EQ(n.m.ArchiveCodePage(), 932);
  EXPECT_EQ(n.m.TextsInCodePage(), 2);

  // Read as GBK on the user's word: the names, and the library, follow that reading.
  const std::vector<std::string> gbk = n.List(path, 936);
  EXPECT_EQ(n.m.ArchiveCodePage(), 936);
  ASSERT_EQ(gbk.size(), 2u);
  EXPECT_NE(gbk[0], "資料/会議.txt");
  n.m.SetTrace(true);
  n.messages.clear();
  EXPECT_EQ(n.Extract(dir.Path() / "gbk", {gbk[1]}).size(), 1u) << gbk[1];
  EXPECT_EQ(n.m.SuccessCount(), 1);
  EXPECT_EQ(n.Trace()["NameCodePage"], "936") << n.Log();
}

TEST(EntryNames, BackslashInsideDoubleByteCharacters) {
  TempDir dir;
  // "ソ" and "表" end in byte 0x5C, the backslash; a lone 0x5C is a separator.
  const std::string path = dir / "sjis.zip";
  WriteFile(path, CraftArchive({{Sjis("ソフト/表.txt"), ""},
                         {Sjis("能力\\十月.txt"), ""},
                         {Sjis("ソ\\..\\..\\escape.txt"), ""},
                         {Sjis("..\\表.txt"), ""}}));
  Names n;
  EXPECT_EQ(n.List(path), (std::vector<std::string>{"ソフト/表.txt", "能力/十月.txt", "ソ/../../escape.txt",
                                                    "../表.txt"}));
  const fs::path out = dir.Path() / "out" / "inside";
  EXPECT_EQ(n.Extract(out), (std::vector<std::string>{"ソフト/表.txt", "能力/十月.txt"}));
  EXPECT_EQ(n.m.SuccessCount(), 2);
  EXPECT_FALSE(fs::exists(dir.Path() / "out" / "escape.txt"));
  EXPECT_FALSE(fs::exists(dir.Path() / "out" / "表.txt"));
}

TEST(EntryNames, AddAndDeleteKeepStoredNames) {
  TempDir dir;
  const std::string path = dir / "keep.zip";
  const std::string field = UnicodeField(Sjis("議事録.txt"), "議事録.txt");
  WriteFile(path, CraftArchive({{Sjis("資料/会議.txt"), ""},
                         {Sjis("ソフト/表.txt"), LE16(0xCAFE) + LE16(3) + "abc"},
                         {Sjis("議事録.txt"), field},
                         {"old.txt", ""}}));
  const auto before = CentralRecords(path);
  fs::create_directories(dir.Path() / "資料");
  WriteFile(dir / "資料/会議.txt", "replaced");
  WriteFile(dir / "new.txt", "new");

  Names n;
  n.List(path);
  fs::current_path(dir.Path());
  n.m.SetAddOptions({AddOptsEnum::AddDirNames});
  n.m.SetFSpecArgs({"new.txt", "資料/会議.txt"});
  n.m.Add();
  EXPECT_EQ(n.m.SuccessCount(), 2) << n.Log();
  auto after = CentralRecords(path);
  // The file of the same name replaced its entry, now under a UTF-8 name; the others kept
  // their bytes, the one named by its Unicode field too.
  EXPECT_EQ(after.size(), 5u);
  for (const std::string& kept : {Sjis("ソフト/表.txt"), Sjis("議事録.txt"), std::string("old.txt")})
    EXPECT_EQ(after[Hex(kept)], before.at(Hex(kept))) << kept;
  const std::vector<std::string> listed = n.List(path);
  EXPECT_EQ(listed.size(), 5u);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), "資料/会議.txt"), 1);

  // Deleting copies the rest as it is, Unicode fields included.
  WriteFile(path, CraftArchive({{Sjis("資料/会議.txt"), ""}, {Sjis("ソフト/表.txt"), ""}, {Sjis("議事録.txt"), field}}));
  const auto full = CentralRecords(path);
  n.List(path);
  n.m.SetFSpecArgs({"資料/会議.txt"});
  n.m.Delete();
  EXPECT_EQ(n.m.SuccessCount(), 1);
  auto rest = CentralRecords(path);
  ASSERT_EQ(rest.size(), 2u);
  for (const auto& [name, record] : rest) EXPECT_EQ(record, full.at(name)) << name;
}
