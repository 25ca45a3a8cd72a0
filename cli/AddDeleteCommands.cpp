// tessera-cli add and delete: entries into and out of an archive through the
// compressor library.

#include <cstdio>

#include "OperationSupport.h"

constexpr const char* kAddHelp =
    "usage: tessera-cli add [OPTIONS] ARCHIVE FILE...\n"
    "FILE may name folders or hold * and ? in its last part (quote it: '*.txt').\n"
    "  -0 .. -9             compression level: 0 stores, 9 is the best (default 9)\n"
    "  -r, --recurse        go into subfolders\n"
    "  -j, --junk-paths     store bare file names, without their folders\n"
    "  -D, --no-dir-entries no separate entries for folders\n"
    "  -u, --update         add new files and replace older entries\n"
    "  -f, --freshen        only replace entries older than their file\n"
    "  -m, --move           delete each file once the archive holding it is written\n"
    "  -e, --encrypt        encrypt (asks for the password unless -P is given)\n"
    "  -P, --password PW    the password for -e\n"
    "  -o, --zip-time       give the archive the time of its newest entry\n"
    "  -k, --dos            store 8.3 upper-case names\n"
    "      --hidden         include hidden files (names beginning with a dot)\n"
    "  -s, --span SIZE      write a multi-volume set: numbered files (ARCHIVE001.zip, ...)\n"
    "                       of at most SIZE bytes (suffix k, m or g), or labelled\n"
    "                       removable disks when ARCHIVE lies on one (0: as much as each holds)\n"
    "      --format         with -s on removable disks: format each disk first\n"
    "  -b, --temp-dir DIR   folder for temporary archives\n"
    "  -v, --verbose        the libraries' and component's information lines too\n"
    "      --trace          every field handed to the library (implies -v)\n"
    "  -q, --quiet          no progress bar\n"
    "An ARCHIVE ending in .exe that does not exist becomes a self-extracting archive.\n"
    "Exit status 0 when files were added and none failed, 1 otherwise, 2 for a usage error.\n";

constexpr const char* kDeleteHelp =
    "usage: tessera-cli delete [OPTIONS] ARCHIVE ENTRY...\n"
    "ENTRY is a stored name or a pattern with * and ? (quote it).\n"
    "  -v, --verbose        information lines too\n"
    "      --trace          every field handed to the library\n"
    "  -q, --quiet          no progress bar\n"
    "Exit status 0 when entries were deleted and none failed, 1 otherwise, 2 for a usage error.\n";

int AddCommand(const Args& args) {
  CliMarlin cli;
  TMarlin& m = cli.marlin;
  AddOpts options{AddOptsEnum::AddDirNames, AddOptsEnum::AddSeparateDirs};
  bool quiet = false, verbose = false, trace = false, help = false;
  bool spanErase = false;
  int64_t spanSize = -1;
  std::string password, tempDir, sizeText;
  int level = 9;
  const auto takesValue = [](const std::string& o) {
    return o == "P" || o == "password" || o == "s" || o == "span" || o == "b" || o == "temp-dir";
  };
  bool badSize = false;
  const auto handle = [&](const ParsedOption& o) {
    const std::string& n = o.Name;
    if (n.size() == 1 && n[0] >= '0' && n[0] <= '9') level = n[0] - '0';
    else if (n == "r" || n == "recurse") options.Include(AddOptsEnum::AddRecurseDirs);
    else if (n == "j" || n == "junk-paths") options.Exclude(AddOptsEnum::AddDirNames);
    else if (n == "D" || n == "no-dir-entries") options.Exclude(AddOptsEnum::AddSeparateDirs);
    else if (n == "u" || n == "update") options.Include(AddOptsEnum::AddUpdate);
    else if (n == "f" || n == "freshen") options.Include(AddOptsEnum::AddFreshen);
    else if (n == "m" || n == "move") options.Include(AddOptsEnum::AddMove);
    else if (n == "e" || n == "encrypt") options.Include(AddOptsEnum::AddEncrypt);
    else if (n == "P" || n == "password") password = o.Value;
    else if (n == "o" || n == "zip-time") options.Include(AddOptsEnum::AddZipTime);
    else if (n == "k" || n == "dos") options.Include(AddOptsEnum::AddForceDOS);
    else if (n == "hidden") options.Include(AddOptsEnum::AddHiddenFiles);
    else if (n == "s" || n == "span") badSize = !ParseByteSize(o.Value, spanSize);
    else if (n == "format") spanErase = true;
    else if (n == "b" || n == "temp-dir") tempDir = o.Value;
    else if (n == "v" || n == "verbose") verbose = true;
    else if (n == "trace") trace = true;
    else if (n == "q" || n == "quiet") quiet = true;
    else if (n == "h" || n == "help") help = true;
    else return false;
    return true;
  };
  Args operands;
  std::string error;
  if (!ParseArguments(args, takesValue, handle, operands, error)) return UsageError("add: " + error);
  if (help) return std::fputs(kAddHelp, stdout) < 0 ? 1 : 0;
  if (badSize) return UsageError("add: --span needs a size such as 1440k, 100m or 0");
  if (spanErase && spanSize < 0) return UsageError("add: --format goes with --span");
  if (operands.size() < 2) return UsageError("add: give the archive and at least one file (tessera-cli add --help)");

  if (spanSize >= 0) {
    options.Include(spanErase ? AddOptsEnum::AddDiskSpanErase : AddOptsEnum::AddDiskSpan);
    m.SetMaxVolumeSize(spanSize);
  }
  OperationConsole console(cli, quiet, verbose || trace);
  m.SetTrace(trace);
  m.SetAddCompLevel(level);
  m.SetAddOptions(options);
  m.SetPassword(password);
  m.SetTempDir(tempDir);
  m.SetZipFilename(operands[0]);
  m.SetFSpecArgs(Args(operands.begin() + 1, operands.end()));
  m.Add();
  console.Finish();
  const int added = m.SuccessCount();
  if (!WriteResult("added: " + std::to_string(added))) return 1;
  return added > 0 && console.Errors() == 0 ? 0 : 1;
}

int DeleteCommand(const Args& args) {
  CliMarlin cli;
  TMarlin& m = cli.marlin;
  bool quiet = false, verbose = false, trace = false, help = false;
  const auto handle = [&](const ParsedOption& o) {
    const std::string& n = o.Name;
    if (n == "v" || n == "verbose") verbose = true;
    else if (n == "trace") trace = true;
    else if (n == "q" || n == "quiet") quiet = true;
    else if (n == "h" || n == "help") help = true;
    else return false;
    return true;
  };
  Args operands;
  std::string error;
  if (!ParseArguments(args, [](const std::string&) { return false; }, handle, operands, error))
    return UsageError("delete: " + error);
  if (help) return std::fputs(kDeleteHelp, stdout) < 0 ? 1 : 0;
  if (operands.size() < 2) return UsageError("delete: give the archive and at least one entry");

  OperationConsole console(cli, quiet, verbose || trace);
  m.SetTrace(trace);
  m.SetZipFilename(operands[0]);
  m.SetFSpecArgs(Args(operands.begin() + 1, operands.end()));
  m.Delete();
  console.Finish();
  const int deleted = m.SuccessCount();
  if (!WriteResult("deleted: " + std::to_string(deleted))) return 1;
  return deleted > 0 && console.Errors() == 0 ? 0 : 1;
}
