// tessera-cli extract and test: entries out of an archive, or only checked, through
// the decompressor library.

#include <cstdio>
#include <filesystem>

#include "OperationSupport.h"
#include "TerminalText.h"

constexpr const char* kExtractHelp =
    "usage: tessera-cli extract [OPTIONS] ARCHIVE [ENTRY...]\n"
    "Without ENTRY every entry is extracted; ENTRY may hold * and ? (quote it).\n"
    "  -d, --dir DIR        extract below DIR (made when missing; default: here)\n"
    "  -j, --junk-paths     put every file into DIR itself, without its folders\n"
    "  -o, --overwrite      replace existing files (default: keep them, with a message)\n"
    "  -u, --update         extract new files and files newer than those on disk\n"
    "  -f, --freshen        only replace existing files older than their entry\n"
    "  -P, --password PW    password of encrypted entries (asked when needed otherwise)\n"
    "  -b, --temp-dir DIR   folder for joining a multi-volume set (ARCHIVE is its last volume)\n"
    "      --names CODEPAGE read names without the UTF-8 flag in CODEPAGE (cp932, gbk, big5,\n"
    "                       cp949, cp866, cp1251, cp850, cp1252, cp437, utf-8, ...), not the\n"
    "                       one judged from the names; ENTRY names entries in that reading\n"
    "  -v, --verbose        information lines too\n"
    "      --trace          every field handed to the library\n"
    "  -q, --quiet          no progress bar\n"
    "Exit status 0 when entries were extracted and none failed, 1 otherwise, 2 for a usage error.\n";

constexpr const char* kTestHelp =
    "usage: tessera-cli test [OPTIONS] ARCHIVE\n"
    "Decompresses every entry and checks its CRC and size; writes nothing.\n"
    "  -P, --password PW    password of encrypted entries (asked when needed otherwise)\n"
    "  -b, --temp-dir DIR   folder for joining a multi-volume set\n"
    "      --names CODEPAGE read names without the UTF-8 flag in CODEPAGE (see extract --help)\n"
    "  -v, --verbose        information lines too\n"
    "      --trace          every field handed to the library\n"
    "  -q, --quiet          no progress bar\n"
    "Exit status 0 when every entry passed, 1 otherwise, 2 for a usage error.\n";

namespace {

int RunSluice(const Args& args, bool testing) {
  CliMarlin cli;
  TMarlin& m = cli.marlin;
  ExtrOpts options{ExtrOptsEnum::ExtrDirNames};
  bool quiet = false, verbose = false, trace = false, help = false;
  std::string password, dir, tempDir;
  bool passwordGiven = false;
  int codePage = 0;
  std::string namesError;
  const auto takesValue = [testing](const std::string& o) {
    return o == "P" || o == "password" || o == "b" || o == "temp-dir" || o == "names" ||
           (!testing && (o == "d" || o == "dir"));
  };
  const auto handle = [&](const ParsedOption& o) {
    const std::string& n = o.Name;
    if (n == "P" || n == "password") password = o.Value, passwordGiven = true;
    else if (n == "names") ParseNamesOption(o.Value, codePage, namesError);
    else if (n == "b" || n == "temp-dir") tempDir = o.Value;
    else if (n == "v" || n == "verbose") verbose = true;
    else if (n == "trace") trace = true;
    else if (n == "q" || n == "quiet") quiet = true;
    else if (n == "h" || n == "help") help = true;
    else if (testing) return false;
    else if (n == "d" || n == "dir") dir = o.Value;
    else if (n == "j" || n == "junk-paths") options.Exclude(ExtrOptsEnum::ExtrDirNames);
    else if (n == "o" || n == "overwrite") options.Include(ExtrOptsEnum::ExtrOverWrite);
    else if (n == "u" || n == "update") options.Include(ExtrOptsEnum::ExtrUpdate);
    else if (n == "f" || n == "freshen") options.Include(ExtrOptsEnum::ExtrFreshen);
    else return false;
    return true;
  };
  const char* command = testing ? "test" : "extract";
  Args operands;
  std::string error;
  if (!ParseArguments(args, takesValue, handle, operands, error)) return UsageError(std::string(command) + ": " + error);
  if (!namesError.empty()) return UsageError(std::string(command) + ": " + namesError);
  if (help) return std::fputs(testing ? kTestHelp : kExtractHelp, stdout) < 0 ? 1 : 0;
  if (operands.empty()) return UsageError(std::string(command) + ": give the archive");
  if (testing && operands.size() > 1) return UsageError("test: give only the archive");

  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
      std::fprintf(stderr, "tessera-cli: %s: %s\n", VisibleText(dir).c_str(), ec.message().c_str());
      return 1;
    }
  }
  if (testing) options.Include(ExtrOptsEnum::ExtrTest);
  OperationConsole console(cli, quiet, verbose || trace);
  m.SetTrace(trace);
  m.SetExtrOptions(options);
  m.SetTempDir(tempDir);
  if (passwordGiven) m.SetPassword(password);
  m.SetNameCodePage(codePage);
  m.SetZipFilename(operands[0]);
  // The listing has said why it could not read the archive; the extract would only add
  // that no archive was given.
  std::error_code ec;
  if (m.ZipFilename().empty() && std::filesystem::is_regular_file(operands[0], ec)) {
    console.Finish();
    std::fprintf(stderr, "tessera-cli: %s: the archive's directory cannot be read\n", VisibleText(operands[0]).c_str());
    return 1;
  }
  m.SetExtrBaseDir(dir);
  // Every entry when none is named; a test always covers the whole archive.
  m.SetFSpecArgs(testing ? Args{"*.*"} : Args(operands.begin() + 1, operands.end()));
  const int entries = m.EntryCount();
  m.Extract();
  console.Finish();
  const int done = m.SuccessCount();
  if (testing) {
    if (!WriteResult("tested: " + std::to_string(done) + " of " + std::to_string(entries))) return 1;
    return done >= entries && entries > 0 && console.Errors() == 0 ? 0 : 1;
  }
  if (!WriteResult("extracted: " + std::to_string(done))) return 1;
  return done > 0 && console.Errors() == 0 ? 0 : 1;
}

}  // namespace

int ExtractCommand(const Args& args) { return RunSluice(args, false); }
int TestCommand(const Args& args) { return RunSluice(args, true); }
