// tessera-cli list: the entries of an archive, as the entry grid shows them or as
// tab-separated lines for scripts.

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <charconv>
#include <cstdio>
#include <vector>

#include "CodePages.h"
#include "Commands.h"
#include "EntryText.h"
#include "EntryTexts.h"
#include "OperationSupport.h"
#include "TerminalText.h"

namespace {

// Collects output and writes it in large blocks; listings can have many entries.
class Output {
 public:
  ~Output() { Flush(); }
  Output& operator<<(std::string_view s) {
    buffer_.append(s);
    if (buffer_.size() > (1 << 20)) Flush();
    return *this;
  }
  // The buffer itself, to format into; Written after each record.
  std::string& Buffer() { return buffer_; }
  void Written() {
    if (buffer_.size() > (1 << 20)) Flush();
  }
  void Flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
  }

 private:
  std::string buffer_;
};

void AppendNumber(std::string& out, uint64_t v) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  out.append(digits, size_t(end - digits));
}

// "YYYY-MM-DD HH:MM:SS"; times repeat within an archive, so their texts are kept.
class TsvTimes {
 public:
  const std::string& Text(uint32_t modDateTime) {
    if (modDateTime == last_ && !text_.empty()) return text_;
    last_ = modDateTime;
    text_ = DosDateTime::FromPacked(modDateTime).Text();
    return text_;
  }

 private:
  uint32_t last_ = 0;
  std::string text_;
};

// Tabs and line breaks inside names and comments would break the one-line-per-entry form.
void ListTsv(const TMarlin& m, Output& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  // What each name was read as: "utf-8", or the archive's code page ("cp932").
  const entrynames::CodePageInfo* archive = entrynames::FindCodePage(m.ArchiveCodePage());
  const std::string_view archiveField = archive ? archive->Name : "cp437";
  const ZipContents& contents = m.Contents();
  TsvTimes times;
  ZipDirEntry e;
  for (size_t i = 0; i < contents.size(); ++i) {
    contents.Get(i, e);
    std::string& b = out.Buffer();
    AppendVisibleText(b, e.EntryName, TextLayout::Tsv);
    b += '\t';
    AppendNumber(b, e.PackedSize64);
    b += '\t';
    AppendNumber(b, e.UnpackedSize64);
    b += '\t';
    for (int shift = 28; shift >= 0; shift -= 4) b += kHex[(e.Crc32 >> shift) & 15];
    b += '\t';
    b += times.Text(e.ModDateTime);
    b += '\t';
    AppendVisibleText(b, e.EntryComment, TextLayout::Tsv);
    b += '\t';
    b += e.NameCodePage == entrynames::kUtf8CodePage ? std::string_view("utf-8") : archiveField;
    b += '\n';
    out.Written();
  }
}

// Columns on a terminal; ASCII in one pass.
size_t Columns(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) & 0x80) return entrynames::TerminalColumns(s);
  return s.size();
}

void Pad(Output& out, std::string_view text, size_t width, bool right, size_t used) {
  static const std::string blanks(256, ' ');
  const size_t fill = width > used ? std::min<size_t>(width - used, blanks.size()) : 0;
  if (right) out << std::string_view(blanks.data(), fill) << text;
  else out << text << std::string_view(blanks.data(), fill);
}

void AppendBlanks(std::string& out, size_t width, size_t used) {
  if (width > used) out.append(std::min<size_t>(width - used, 256), ' ');
}

// Columns a text takes once its control characters are escaped.
size_t VisibleColumns(std::string_view s) {
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || b >= 0x80) return Columns(VisibleText(s));
  }
  return s.size();
}

void AppendRight(std::string& out, uint64_t v, size_t width) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  AppendBlanks(out, width, size_t(end - digits));
  out.append(digits, size_t(end - digits));
}

void ListTable(const TMarlin& m, Output& out) {
  // Two passes over the entries, one for the column widths and one to print, so that
  // nothing but the entries themselves (and each name's width) is held.
  EntryDateFormatter dates;
  uint64_t totalPacked = 0, totalUnpacked = 0;
  size_t w[5] = {9, 11, 12, 9, 5};  // the header texts
  std::vector<uint16_t> nameColumns;
  const ZipContents& contents = m.Contents();
  nameColumns.reserve(contents.size());
  ZipDirEntry e;
  for (size_t i = 0; i < contents.size(); ++i) {
    contents.GetFields(i, e);
    const size_t columns = VisibleColumns(contents.FileName(i));
    nameColumns.push_back(uint16_t(std::min<size_t>(columns, UINT16_MAX)));
    w[0] = std::max(w[0], columns);
    w[3] = std::max(w[3], Columns(dates.Text(e.ModDateTime)));
    w[4] = std::max(w[4], RatioText(e.PackedSize64, e.UnpackedSize64).size());
    totalPacked += e.PackedSize64;
    totalUnpacked += e.UnpackedSize64;
  }
  const std::string totalRatio = TotalRatioText(totalPacked, totalUnpacked);
  w[1] = std::max(w[1], std::to_string(totalPacked).size());
  w[2] = std::max(w[2], std::to_string(totalUnpacked).size());
  w[4] = std::max(w[4], totalRatio.size());

  auto line = [&](std::string_view name, size_t nameColumns, std::string_view packed, std::string_view unpacked,
                  std::string_view date, std::string_view ratio, std::string_view path) {
    Pad(out, name, w[0], false, nameColumns);
    out << "  ";
    Pad(out, packed, w[1], true, packed.size());
    out << "  ";
    Pad(out, unpacked, w[2], true, unpacked.size());
    out << "  ";
    Pad(out, date, w[3], false, Columns(date));
    out << "  ";
    Pad(out, ratio, w[4], true, ratio.size());
    out << "  " << path << "\n";
  };
  line("File Name", 9, "Compr. Size", "Uncmpr. Size", "Date/Time", "Ratio", "Path");
  for (size_t i = 0; i < contents.size(); ++i) {
    contents.GetFields(i, e);
    std::string& b = out.Buffer();
    AppendVisibleText(b, contents.FileName(i));
    AppendBlanks(b, w[0], nameColumns[i]);
    b += "  ";
    AppendRight(b, e.PackedSize64, w[1]);
    b += "  ";
    AppendRight(b, e.UnpackedSize64, w[2]);
    b += "  ";
    const std::string& date = dates.Text(e.ModDateTime);
    b += date;
    AppendBlanks(b, w[3], Columns(date));
    b += "  ";
    const std::string ratio = RatioText(e.PackedSize64, e.UnpackedSize64);
    AppendBlanks(b, w[4], ratio.size());
    b += ratio;
    b += "  ";
    AppendVisibleText(b, contents.Folder(i));
    b += '\n';
    out.Written();
  }
  line("Total", 5, std::to_string(totalPacked), std::to_string(totalUnpacked), "", totalRatio, "");
  // Names the code page decided may be wrong: say which one they were read in, and how
  // to choose another.
  if (m.TextsInCodePage() > 0)
    out << "Names without the UTF-8 flag read as " << entrynames::CodePageLabel(m.ArchiveCodePage())
        << (m.NameCodePage() != 0 ? ", as chosen" : ", judged from the names")
        << "; --names CODEPAGE reads them otherwise\n";
}

}  // namespace

int ListCommand(const Args& args) {
  bool tsv = false;
  int codePage = 0;
  std::string namesError;
  Args operands;
  std::string error;
  const auto takesValue = [](const std::string& o) { return o == "names"; };
  const auto handle = [&](const ParsedOption& o) {
    if (o.Name == "tsv") tsv = true;
    else if (o.Name == "names") ParseNamesOption(o.Value, codePage, namesError);
    else return false;
    return true;
  };
  if (!ParseArguments(args, takesValue, handle, operands, error)) return UsageError("list: " + error);
  if (!namesError.empty()) return UsageError("list: " + namesError);
  if (operands.empty()) return UsageError("list: no archive given");
  if (operands.size() > 1) return UsageError("list: only one archive can be listed");
  const std::string& archive = operands[0];
  struct stat st {};
  if (::stat(archive.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return UsageError(archive + ": Input file does not exist"), 1;

  CliMarlin cli;
  cli.marlin.SetUnattended(true);
  cli.marlin.SetNameCodePage(codePage);
  cli.marlin.SetZipFilename(archive);
  if (cli.marlin.ZipFilename().empty()) return 1;
  Output out;
  if (tsv) ListTsv(cli.marlin, out);
  else ListTable(cli.marlin, out);
  return 0;
}
