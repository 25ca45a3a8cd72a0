#include "MarlinMessages.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

struct MessageRow {
  int Id;
  const char* Text;
};

// Sorted by id.
constexpr MessageRow kMessages[] = {
    {10101, "Fatal Error in Kiln.DLL: abort exception"},
    {10102, "Error - no zip file specified!"},
    {10103, "Requested memory not available"},
    {10105, "Copying: "},
    {10106, "Error - the password is longer than 80 bytes (a character outside ASCII takes 2 to 4); it is not shortened, nothing was done"},
    {10201, "Seek error reading Zip archive!"},
    {10202, "Unknown error in List() function\n"},
    {10203, "Warning - Error in zip structure!"},
    {10204, "Warning - Garbage at the end of the zipfile!"},
    {10301, "Error - no files to zip!"},
    {10302, "Unattended action not possible without a password"},
    {10303, "AddFreshen or AddUpdate not possible on a spanned archive"},
    {10304, "Warning - the volumes could not be written; the moved files are kept in the archive "},
    {10401, "Error - no files selected for deletion"},
    {10501, "Fatal Error in Sluice.DLL: abort exception"},
    {10502, "Warning - Unattended Extract: possible not all files extracted"},
    {10503, "Error - cannot extract into the folder "},
    {10601, "KILN Loaded"},
    {10602, "KilnExec function not found in KILN.DLL!"},
    {10603, "GetKilnVersion function not found in KILN.DLL!"},
    {10604, "KILN.DLL not found!"},
    {10605, "Error - this version of KILN.DLL takes no more than 4097 file specifications"},
    {10701, "SLUICE Loaded!"},
    {10702, "SluiceExec function not found in SLUICE.DLL!"},
    {10703, "GetSluiceVersion function not found in SLUICE.DLL!"},
    {10704, "SLUICE.DLL not found!"},
    {10705, "Error - this version of SLUICE.DLL takes no more than 4097 file specifications"},
    {10801, "Error - On or more of the 4 property strings mentioned below exceeds 255 characters!"},
    {10802, "Error - STUBBY.BIN not found!"},
    {10803, "Error: input file is not a zip file"},
    {10804, "Error - archives with Zip64 records or beyond 4 GB can not be converted"},
    {10901, "Error - no .EXE file specified"},
    {10902, "Error: input file is not an .EXE file"},
    {10903, "Error determining the type of SFX archive"},
    {11001, "Input file does not exist"},
    {11002, "Zip file could not be opened"},
    {11003, "Not a valid drive: %s"},
    {11004, "Drive %s is NOT defined"},
    {11005, "Volume label could not be set"},
    {11006, "Not enough memory to display MsgBox"},
    {11007, "User canceled operation"},
    {11008, "Seek error in input file"},
    {11009, "Creation of output file failed"},
    {11010, "Write error in output file"},
    {11011, "Error while reading the End Of Central Directory"},
    {11012, "Error while reading a local header"},
    {11013, "Error while reading a central header"},
    {11014, "A local header signature is wrong"},
    {11015, "A central header signature is wrong"},
    {11016, "Error while reading a local file name"},
    {11017, "Error while reading a central file name"},
    {11018, "Error while reading a local extra field"},
    {11019, "Error while reading a central extra field"},
    {11020, "Error while reading/writing a data descriptor area"},
    {11021, "Error while reading zipped data"},
    {11022, "Error while reading a file comment"},
    {11023, "Error while reading the archive comment"},
    {11024, "UnKnown error in function ReadSpan(), WriteSpan(), Rename() or CopyZippedFiles()\n"},
    {11025, "Unattended disk spanning not implemented"},
    {11026, "A local header not found in internal structure"},
    {11027, "Temporary file could not be created"},
    {11028, "Error while writing a local header"},
    {11029, "Error while writing a central header"},
    {11030, "Error while writing the End Of Central Directory"},
    {11031, "Error while reading a Extended Local signature"},
    {11032, "This disk has not enough free space available"},
    {11033, "Please insert last disk"},
    {11034, "Please insert disk volume %.1d of %.1d"},
    {11035, "\nin drive: %s"},
    {11036, "This archive is not a valid Zip archive"},
    {11037, "This is the first disk in a backup set,\nplease insert the last disk of this set"},
    {11038, "This is the %dth disk in a backup set,\nplease insert the last disk of this set"},
    {11039, "There is already a file %s\nDo you want to overwrite this file"},
    {11040, "ATTENTION: This is previous disk no %d!!!\nAre you sure you want to overwrite the contents"},
    {11041, "Error - Self extracting archives(.exe) can not be spanned"},
    {11042, "Error while copying a filename of a CEH structure"},
    {11043, "Seek error while skipping a EOC structure"},
    {11044, "Error while copying the zip archive comment"},
    {11045, "This is the first file in a backup set,\nplease choose the last file of this set"},
    {11046, "Please insert disk volume %.1d"},
    // Multi-volume sets: limits of the 32-bit set layout, and the format question.
    {11101, "This archive uses Zip64 records, which a multi-volume set cannot hold"},
    {11102, "A header is too large to fit on an empty volume"},
    {11103, "A multi-volume set cannot have more than 999 volumes"},
    {11104, "The output file is one of the files being read"},
    {11105, "Format the disk in drive %s with the label %s?\nEverything on it will be erased. No uses the disk as it is."},
    {11106, "%s holds a whole archive, not the last volume of a multi-volume set"},
    {11107, "%s is in the way and is not a file: it is left as it is"},
};

}  // namespace

std::string_view MessageTableText(int id) {
  const auto* end = std::end(kMessages);
  const auto* it = std::lower_bound(std::begin(kMessages), end, id,
                                    [](const MessageRow& r, int v) { return r.Id < v; });
  if (it == end || it->Id != id) return {};
  return it->Text;
}

std::string MissingMessageText(int id) {
  return "ParleyXX.res is probably not bound to executable\nMissing String ID is: " + std::to_string(id);
}

std::string FormatMessageText(std::string_view text, std::initializer_list<std::string> args) {
  std::string out;
  out.reserve(text.size() + 16);
  auto arg = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || arg == args.end()) {
      out += text[i];
      continue;
    }
    // %s, %d, or %.Nd: the precision of %.1d is a minimum digit count, which any
    // decimal already meets.
    size_t j = i + 1;
    if (j < text.size() && text[j] == '.') {
      ++j;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    }
    if (j < text.size() && (text[j] == 's' || text[j] == 'd')) {
      out += *arg++;
      i = j;
    } else {
      out += text[i];
    }
  }
  return out;
}
