// tessera-cli span and join: an archive onto the volumes of a multi-volume set, and a
// set back into one archive.

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "MarlinMessages.h"
#include "OperationSupport.h"
#include "TerminalText.h"

namespace {

// Prompts need someone to answer them; without a terminal the component must not wait.
void Attend(CliMarlin& cli, bool verbose) {
  cli.marlin.SetUnattended(!::isatty(STDIN_FILENO));
  cli.marlin.SetVerbose(verbose);
  // One "Copying:" line per entry is only wanted when asked for.
  const std::string copying = MessageTableText(10105).data();
  cli.marlin.OnMessage = [&cli, verbose, copying](TMarlin*, int, const std::string& text) {
    ++cli.messages;
    if (verbose || text.rfind(copying, 0) != 0) std::fprintf(stderr, "%s\n", VisibleText(text, TextLayout::LineBreaks).c_str());
  };
}

}  // namespace

int SpanCommand(const Args& args) {
  std::vector<std::string> names;
  int64_t maxVolume = 0, keepFree = 0, minFree = -1;
  bool verbose = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    int64_t* size = a == "--volume-size" || a == "-s" ? &maxVolume
                    : a == "--keep-free"            ? &keepFree
                    : a == "--min-free"             ? &minFree
                                                    : nullptr;
    if (size) {
      if (i + 1 >= args.size() || !ParseByteSize(args[i + 1], *size)) return UsageError("span: " + a + " needs a size");
      ++i;
    } else if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else if (!a.empty() && a[0] == '-') {
      return UsageError("span: unknown option " + a);
    } else {
      names.push_back(a);
    }
  }
  if (names.size() != 2) return UsageError("span: give the archive and the name of the set");

  CliMarlin cli;
  Attend(cli, verbose);
  cli.marlin.SetMaxVolumeSize(maxVolume);
  cli.marlin.SetKeepFreeOnDisk1(keepFree);
  if (minFree >= 0) cli.marlin.SetMinFreeVolumeSize(minFree);
  if (cli.marlin.WriteSpan(names[0], names[1]) != 0) return 1;
  std::printf("%d volume(s) written\n", cli.marlin.CurrentDiskNo() + 1);
  return 0;
}

int JoinCommand(const Args& args) {
  std::vector<std::string> names;
  bool verbose = false;
  for (const std::string& a : args) {
    if (a == "-v" || a == "--verbose") verbose = true;
    else if (!a.empty() && a[0] == '-') return UsageError("join: unknown option " + a);
    else names.push_back(a);
  }
  if (names.size() != 2) return UsageError("join: give the last volume and the output (a file, or a folder ending in /)");

  CliMarlin cli;
  Attend(cli, verbose);
  std::string out = names[1];
  if (cli.marlin.ReadSpan(names[0], out) != 0) return 1;
  std::printf("%s\n", VisibleText(out).c_str());
  return 0;
}
