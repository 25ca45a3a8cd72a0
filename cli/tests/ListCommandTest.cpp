// tessera-cli list against Python's reading of the same archives.

#include "CliTest.h"

namespace {

// Python's listing in the --tsv form: names and comments as the bytes the component's
// code-page rule gives, with tabs, line breaks and backslashes escaped.
const char* kPythonTsv = R"PY(
import sys, zipfile
def esc(b):
    return b.replace(b'\\', b'\\\\').replace(b'\t', b'\\t').replace(b'\n', b'\\n').replace(b'\r', b'\\r')
out = sys.stdout.buffer
with zipfile.ZipFile(sys.argv[1]) as z:
    # Names without the flag are read in one code page: UTF-8 when all of them are.
    waiting = [i.orig_filename.encode('cp437') for i in z.infolist() if not i.flag_bits & 0x800]
    waiting = [n for n in waiting if max(n, default=0) >= 0x80]
    def is_utf8(b):
        try:
            return b.decode('utf-8') is not None
        except UnicodeDecodeError:
            return False
    page = b'utf-8' if waiting and all(is_utf8(n) for n in waiting) else b'cp437'
    for i in z.infolist():
        utf8 = i.flag_bits & 0x800
        dos = not utf8 and (i.create_system in (0, 6) or (i.create_system, i.create_version) == (11, 50))
        name = i.orig_filename.encode('utf-8' if utf8 or dos else 'cp437')
        comment = i.comment.decode('cp437').encode('utf-8') if dos else i.comment
        # A '\\' stored as separator by some archivers is shown as '/'.
        out.write(esc(name.replace(b'\\', b'/')) + b'\t%d\t%d\t%08x\t' % (i.compress_size, i.file_size, i.CRC) +
                  (b'%04d-%02d-%02d %02d:%02d:%02d' % i.date_time) + b'\t' + esc(comment) +
                  b'\t' + (b'utf-8' if utf8 else page) + b'\n')
)PY";

// Archives of several writers and shapes, all made here; a prefix and trailing bytes are the
// component's to read.
std::vector<std::string> MakeArchives(const TempDir& dir) {
  fs::create_directories(dir.Path() / "tree/sub dir");
  WriteFile(dir / "tree/plain.txt", std::string(4096, 'p'));
  WriteFile(dir / "tree/sub dir/caf\xc3\xa9.bin", std::string(777, '\x01'));
  WriteFile(dir / "tree/sub dir/empty", "");
  EXPECT_EQ(RunCommand("zip -q -r -X info.zip tree", dir.Path()).Status, 0);
  Python(R"PY(
import sys, zipfile, os
d = sys.argv[1]
with zipfile.ZipFile(os.path.join(d, 'py.zip'), 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = b'archive comment'
    for n, data, c in [('a.txt', b'x' * 5000, b'tab\there\nnewline'), ('dir/b\\c.bin', os.urandom(999), b''),
                       ('\u00fcber/\u00e9t\u00e9.txt', b'summer' * 9, 'caf\u00e9'.encode())]:
        i = zipfile.ZipInfo(n, (2019, 12, 31, 23, 59, 58))
        i.compress_type = zipfile.ZIP_DEFLATED
        i.comment = c
        z.writestr(i, data)
with zipfile.ZipFile(os.path.join(d, 'dos.zip'), 'w') as z:
    i = zipfile.ZipInfo('RE_U.TXT'); i.create_system = 0
    z.writestr(i, b'dos')
data = open(os.path.join(d, 'dos.zip'), 'rb').read()
open(os.path.join(d, 'dos.zip'), 'wb').write(data.replace(b'RE_U', b'RE\x80U'))
zipfile.ZIP64_LIMIT = 10
zipfile.ZIP_FILECOUNT_LIMIT = 1
with zipfile.ZipFile(os.path.join(d, 'z64.zip'), 'w') as z:
    for k in range(3):
        z.writestr('n%d' % k, b'q' * (100 * k))
)PY",
         {dir.Path().string()});
  return {dir / "info.zip", dir / "py.zip", dir / "dos.zip", dir / "z64.zip"};
}

}  // namespace

TEST(ListCommand, TsvAgreesWithPython) {
  TempDir dir;
  for (const std::string& archive : MakeArchives(dir)) {
    const CommandResult ours = Cli("list --tsv " + Quote(archive) + " 2>/dev/null");
    EXPECT_EQ(ours.Status, 0) << archive;
    EXPECT_EQ(ours.Output, Python(kPythonTsv, {archive})) << archive;
  }
}

TEST(ListCommand, TableWithTotalsAndFailures) {
  TempDir dir;
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:
    z.writestr('docs/one.txt', b'1' * 8)
    z.writestr('two.txt', b'')
)PY",
         {dir / "t.zip"});
  const CommandResult table = Cli("list " + Quote(dir / "t.zip"));
  ASSERT_EQ(table.Status, 0) << table.Output;
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = table.Output.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(table.Output.substr(at, nl - at));
  ASSERT_EQ(lines.size(), 4u) << table.Output;
  EXPECT_EQ(lines[0].rfind("File Name", 0), 0u);
  EXPECT_NE(lines[1].find("one.txt"), std::string::npos);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "docs/");
  EXPECT_NE(lines[1].find(" 0% "), std::string::npos);
  EXPECT_EQ(lines[3].rfind("Total ", 0), 0u);
  EXPECT_NE(lines[3].find(" 8 "), std::string::npos);

  WriteFile(dir / "not.zip", "no archive here");
  const CommandResult bad = Cli("list " + Quote(dir / "not.zip"));
  EXPECT_NE(bad.Status, 0);
  EXPECT_EQ(bad.Output, "This archive is not a valid Zip archive\n");
  const CommandResult missing = Cli("list " + Quote(dir / "none.zip"));
  EXPECT_NE(missing.Status, 0);
  EXPECT_NE(missing.Output.find("Input file does not exist"), std::string::npos);

  // A warning is reported but the listing stands.
  WriteFile(dir / "g.zip", ReadFile(dir / "t.zip") + "junk");
  const CommandResult warned = Cli("list --tsv " + Quote(dir / "g.zip") + " 2>&1 >/dev/null");
  EXPECT_EQ(warned.Status, 0);
  EXPECT_EQ(warned.Output, "Warning - Garbage at the end of the zipfile!\n");
}

TEST(ListCommand, ControlCharactersAreShownEscaped) {
  TempDir dir;
  // Placeholders patched afterwards: Python cuts names at NUL and writes only valid UTF-8.
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for n in ['title\x1b]0;t\x07.txt', 'del\x7f', 'nl\nname', 'c1\u0085x', 'nulZname', 'inv\u00e9']:
        z.writestr(n, b'x')
    i = zipfile.ZipInfo('cr.txt')
    i.comment = b'bell\x07 csi\xc2\x9b'
    z.writestr(i, b'y')
data = open(sys.argv[1], 'rb').read().replace(b'nulZ', b'nul\x00').replace(b'inv\xc3\xa9', b'inv\xff\xfe')
open(sys.argv[1], 'wb').write(data)
)PY",
         {dir / "ctl.zip"});
  const CommandResult table = Cli("list " + Quote(dir / "ctl.zip"));
  const CommandResult tsv = Cli("list --tsv " + Quote(dir / "ctl.zip"));
  ASSERT_EQ(table.Status, 0) << table.Output;
  ASSERT_EQ(tsv.Status, 0) << tsv.Output;
  for (const CommandResult* r : {&table, &tsv}) {
    const std::string& out = r->Output;
    for (size_t i = 0; i < out.size(); ++i) {
      const uint8_t c = uint8_t(out[i]);
      EXPECT_TRUE((c >= 0x20 && c != 0x7F && c < 0xF8) || c == '\n' || (c == '\t' && r == &tsv)) << i << ": " << out;
      if (c == 0xC2 && i + 1 < out.size()) {
        EXPECT_GE(uint8_t(out[i + 1]), 0xA0) << out;
      }
    }
    for (const char* shown : {"title\\x1b]0;t\\x07.txt", "del\\x7f", "c1\\u0085x", "nul\\x00name", "inv\\xff\\xfe"})
      EXPECT_NE(out.find(shown), std::string::npos) << shown << "\n" << out;
  }
  // One line per entry, and the header, total and code page lines of the table (a comment
  // is read in the code page).
  EXPECT_EQ(std::count(table.Output.begin(), table.Output.end(), '\n'), 7 + 3) << table.Output;
  EXPECT_EQ(std::count(tsv.Output.begin(), tsv.Output.end(), '\n'), 7) << tsv.Output;
  EXPECT_NE(table.Output.find("nl\\x0aname"), std::string::npos) << table.Output;
  EXPECT_NE(tsv.Output.find("nl\\nname\t"), std::string::npos) << tsv.Output;
  EXPECT_NE(tsv.Output.find("\tbell\\x07 csi\\u009b\t"), std::string::npos) << tsv.Output;
}

TEST(ListCommand, NamesInACodePage) {
  TempDir dir;
  // Russian names as DOS stores them: code page 866, no UTF-8 flag.
  Python(R"PY(
import struct, sys, zlib
names = ['Документы/Отчёт за май.docx', 'Документы/Фотографии/Москва.jpg', 'Новая папка/Заметки.txt']
body, central = b'', b''
for n in names:
    raw, crc = n.encode('cp866'), zlib.crc32(b'x')
    central += struct.pack('<IHHHHIIIIHHHHHII', 0x02014B50, 20, 20, 0, 0, 0x56B15000, crc, 1, 1, len(raw),
                           0, 0, 0, 0, 0x20, len(body)) + raw
    body += struct.pack('<IHHHIIIIHH', 0x04034B50, 20, 0, 0, 0x56B15000, crc, 1, 1, len(raw), 0) + raw + b'x'
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 3, 3, len(central), len(body), 0)
open(sys.argv[1], 'wb').write(body + central + end)
)PY",
         {dir / "ru.zip"});
  const CommandResult tsv = Cli("list --tsv " + Quote(dir / "ru.zip"));
  ASSERT_EQ(tsv.Status, 0) << tsv.Output;
  EXPECT_NE(tsv.Output.find("Документы/Отчёт за май.docx\t"), std::string::npos) << tsv.Output;
  EXPECT_EQ(tsv.Output.substr(tsv.Output.size() - 7), "\tcp866\n") << tsv.Output;
  const CommandResult table = Cli("list " + Quote(dir / "ru.zip"));
  EXPECT_NE(table.Output.find("\nNames without the UTF-8 flag read as cp866 (Russian, DOS), judged from the names"),
            std::string::npos)
      << table.Output;

  // The user's code page wins; a name no code page knows is a usage error.
  const CommandResult chosen = Cli("list --names=IBM437 " + Quote(dir / "ru.zip"));
  EXPECT_EQ(chosen.Status, 0);
  EXPECT_NE(chosen.Output.find("read as cp437 (DOS, United States), as chosen"), std::string::npos) << chosen.Output;
  EXPECT_EQ(chosen.Output.find("Москва"), std::string::npos) << chosen.Output;
  const CommandResult unknown = Cli("list --names klingon " + Quote(dir / "ru.zip"));
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_NE(unknown.Output.find("unknown code page klingon"), std::string::npos) << unknown.Output;

  // Extracting by a name in the chosen reading.
  const CommandResult out = Cli("extract -q --names cp866 -d " + Quote(dir / "out") + " " + Quote(dir / "ru.zip") +
                                " 'Новая папка/*'");
  EXPECT_EQ(out.Status, 0) << out.Output;
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "out/Новая папка/Заметки.txt"));
}
