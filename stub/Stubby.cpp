// The self-extractor: a static program that finds the ZIP archive appended to its own
// file, reads the 256-byte header in front of it, and extracts the archive as that
// header asks. It runs on a machine where nothing of Tessera is installed.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Extractor.h"
#include "SelfArchive.h"
#include "Terminal.h"

namespace {

using namespace stubby;

// ---- the command line after extraction ----

// Splits at blanks; quotes group words.
std::vector<std::string> SplitArgs(const std::string& text) {
  std::vector<std::string> out;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
      else word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) out.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) out.push_back(word);
  return out;
}

std::string ReplaceFolder(std::string text, const std::string& folder) {
  for (size_t at = text.find("><"); at != std::string::npos; at = text.find("><", at + folder.size()))
    text.replace(at, 2, folder);
  return text;
}

int RunCommand(const SelfArchive& a, const std::string& folder) {
  const size_t bar = a.command.find('|');
  std::string program = a.command.substr(0, bar);
  program.erase(0, program.find_first_not_of(" \t"));
  program.erase(program.find_last_not_of(" \t") + 1);
  // With a separator after it, the folder serves both "><name" and "></name".
  const std::string prefix = folder == "/" ? folder : folder + "/";
  std::vector<std::string> args{ReplaceFolder(program, prefix)};
  if (bar != std::string::npos)
    for (const std::string& word : SplitArgs(a.command.substr(bar + 1))) args.push_back(ReplaceFolder(word, prefix));

  std::string shown;
  for (const std::string& s : args) shown += (shown.empty() ? "" : " ") + s;
  if ((a.bits & kAskCmdLine) && !(a.bits & kAutoRun) && gInteractive &&
      AskChoice("Run " + Printable(shown) + "? [y/n] (y): ", "yn", 'y') != 'y')
    return kOk;
  std::printf("Running: %s\n", Printable(shown).c_str());
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    if (::chdir(folder.c_str()) != 0) _exit(127);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "%s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) < 0) {
    Error("Cannot run the command: %s", std::strerror(errno));
    return kFailed;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return kOk;
  Error("The command failed (status %d).", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return kFailed;
}

// ---- choosing and listing ----

std::string DateText(uint32_t dos) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", ((dos >> 25) & 0x7F) + 1980, (dos >> 21) & 0x0F,
                (dos >> 16) & 0x1F, (dos >> 11) & 0x1F, (dos >> 5) & 0x3F);
  return buf;
}

void ListEntries(const SelfArchive& a, bool numbered) {
  uint64_t total = 0;
  std::printf(numbered ? "  No.      Size  Date              Name\n" : "      Size  Date              Name\n");
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const Entry& e = a.entries[i];
    if (numbered) std::printf("%5zu ", i + 1);
    std::printf("%10u  %s  %s\n", e.unpacked, DateText(e.dosTime).c_str(), Printable(e.name).c_str());
    total += e.unpacked;
  }
  std::printf("%s%10llu  %zu entries\n", numbered ? "      " : "", static_cast<unsigned long long>(total),
              a.entries.size());
}

// Numbers and ranges ("1-3 7"); an empty answer takes everything.
std::vector<bool> ChooseEntries(const SelfArchive& a) {
  ListEntries(a, true);
  for (;;) {
    const std::string answer = Ask("Entries to extract (numbers and ranges such as 1-3 7; Enter for all): ", "");
    std::vector<bool> chosen(a.entries.size(), answer.empty());
    bool valid = true;
    for (const std::string& word : SplitArgs(answer)) {
      char* rest = nullptr;
      const unsigned long from = std::strtoul(word.c_str(), &rest, 10);
      unsigned long to = from;
      if (*rest == '-') to = std::strtoul(rest + 1, &rest, 10);
      if (*rest != '\0' || from < 1 || to < from || to > a.entries.size()) {
        std::printf("Not an entry number or range: %s\n", Printable(word).c_str());
        valid = false;
        break;
      }
      for (unsigned long i = from; i <= to; ++i) chosen[i - 1] = true;
    }
    if (valid) return chosen;
  }
}

bool MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = path.substr(0, at);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) return true;
  }
}

int Usage(FILE* out) {
  std::fprintf(out,
               "usage: %s [--dir DIR] [--yes] [--list] [--test] [--password PW]\n"
               "  --dir DIR      extract into DIR\n"
               "  --yes          take every default, ask nothing\n"
               "  --list         list the entries\n"
               "  --test         check every entry without writing anything\n"
               "  --password PW  password of encrypted entries\n",
               program_invocation_short_name);
  return out == stdout ? kOk : kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CatchSignals();
  ::signal(SIGXFSZ, SIG_IGN);  // a file-size limit fails the write, which is reported
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* flag, std::string& into) {
      const size_t n = std::strlen(flag);
      if (arg == flag && i + 1 < argc) return into = argv[++i], true;
      if (arg.compare(0, n, flag) == 0 && arg.size() > n && arg[n] == '=') return into = arg.substr(n + 1), true;
      return false;
    };
    if (value("--dir", o.dir)) o.dirGiven = true;
    else if (value("--password", o.password)) o.passwordGiven = true;
    else if (arg == "--yes" || arg == "-y") o.yes = true;
    else if (arg == "--list" || arg == "-l") o.list = true;
    else if (arg == "--test" || arg == "-t") o.test = true;
    else if (arg == "--help" || arg == "-h") return Usage(stdout);
    else {
      Error("unknown argument: %s", arg.c_str());
      return Usage(stderr);
    }
  }

  SelfArchive a;
  if (!OpenSelf(a)) {
    Error("%s is not a self-extracting archive.", Printable(program_invocation_name).c_str());
    return kNotSfx;
  }
  if (!(a.bits & kNoSizeCheck)) {
    const uint64_t stub = ElfImageSize(a.fd);
    const uint64_t archive = a.archiveEnd - (a.headerAt + kHeaderSize);
    if (stub != a.headerAt || a.fileSize != stub + kHeaderSize + archive) {
      Error("%s is damaged: its size is not that of the extractor, its header and the archive.",
            Printable(program_invocation_name).c_str());
      return kNotSfx;
    }
  }

  const std::string title = Printable(a.caption.empty() ? std::string("Self-extracting archive") : a.caption);
  if (::isatty(STDOUT_FILENO)) std::printf("\033]0;%s\007", title.c_str());
  std::printf("%s\n%s\n", title.c_str(), std::string(std::min<size_t>(title.size(), 79), '=').c_str());

  if (o.list) {
    ListEntries(a, false);
    return kOk;
  }
  gInteractive = ::isatty(STDIN_FILENO) && !o.yes;
  Extractor x(a, o);
  if (o.test) {
    size_t failed = 0;
    for (const Entry& e : a.entries) failed += x.Extract(e, -1) ? 0 : 1;
    std::printf(failed ? "%zu of %zu entries failed the test.\n" : "No errors in %zu entries.\n",
                failed ? failed : a.entries.size(), a.entries.size());
    return failed ? kFailed : kOk;
  }

  // Auto-run extracts to the default folder without a question.
  const bool autoRun = a.bits & kAutoRun;
  const bool asking = gInteractive && !autoRun;
  std::string folder = o.dirGiven ? o.dir : (a.defaultDir.empty() ? std::string(".") : a.defaultDir);
  if (asking && !o.dirGiven) folder = Ask("Extract to folder [" + Printable(folder) + "]: ", folder);
  Overwrite mode = (a.bits & kOverwriteAlways) ? Overwrite::Always
                   : (a.bits & kOverwriteNever) ? Overwrite::Never
                                                : Overwrite::Ask;
  if (asking && !(a.bits & kHideOverwrite)) {
    const char current = mode == Overwrite::Always ? 'o' : mode == Overwrite::Never ? 'n' : 'a';
    const char c = AskChoice(std::string("Existing files: [a]sk for each, [o]verwrite, [n]ever overwrite (") +
                                 current + "): ",
                             "aon", current);
    mode = c == 'o' ? Overwrite::Always : c == 'n' ? Overwrite::Never : Overwrite::Ask;
  }
  x.SetOverwrite(mode);
  std::vector<bool> chosen(a.entries.size(), true);
  if (asking && (a.bits & kAskFiles)) chosen = ChooseEntries(a);

  char resolved[PATH_MAX];
  if (!MakeFolders(folder) || !::realpath(folder.c_str(), resolved)) {
    const int err = errno;
    Error("Cannot create the folder %s: %s", Printable(folder).c_str(), std::strerror(err));
    return kFailed;
  }
  folder = resolved;
  const int root = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    const int err = errno;
    Error("Cannot open the folder %s: %s", Printable(folder).c_str(), std::strerror(err));
    return kFailed;
  }
  std::printf("Extracting to %s\n", Printable(folder).c_str());
  size_t failed = 0;
  for (size_t i = 0; i < a.entries.size(); ++i)
    if (chosen[i] && !x.Extract(a.entries[i], root)) ++failed;
  x.RestoreFolderTimes(root);
  ::close(root);
  if (failed) {
    Error("%zu entries could not be extracted.", failed);
    return kFailed;
  }
  std::printf("Done.\n");
  if (a.command.empty()) return kOk;
  return RunCommand(a, folder);
}
