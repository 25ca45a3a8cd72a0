// tessera-cli: the archive component from the command line, one subcommand per operation.

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "TerminalText.h"
#include "UDisksManager.h"

namespace {

struct Command {
  const char* Name;
  const char* Usage;
  int (*Run)(const Args&);
};

const Command kCommands[] = {
    {"list", "list [--tsv] [--names CODEPAGE] ARCHIVE", ListCommand},
    {"add", "add [OPTIONS] ARCHIVE FILE...   (options: tessera-cli add --help)", AddCommand},
    {"extract", "extract [OPTIONS] ARCHIVE [ENTRY...]   (options: tessera-cli extract --help)", ExtractCommand},
    {"test", "test [-P PASSWORD] [-q] [-v] ARCHIVE", TestCommand},
    {"delete", "delete [-q] [-v] ARCHIVE ENTRY...", DeleteCommand},
    {"sfx", "sfx [OPTIONS] ARCHIVE.zip   (options: tessera-cli sfx --help)", SfxCommand},
    {"unsfx", "unsfx [--no-trash] ARCHIVE.exe", UnsfxCommand},
    {"span", "span [-s|--volume-size SIZE] [--keep-free SIZE] [--min-free SIZE] [-v] ARCHIVE SETNAME", SpanCommand},
    {"join", "join [-v] LASTVOLUME OUT", JoinCommand},
};

int Usage(FILE* out) {
  std::fprintf(out, "usage: tessera-cli COMMAND [OPTIONS]\n");
  for (const Command& c : kCommands) std::fprintf(out, "  tessera-cli %s\n", c.Usage);
  return out == stdout ? 0 : 2;
}

}  // namespace

CliMarlin::CliMarlin() {
  marlin.OnMessage = [this](TMarlin*, int code, const std::string& message) {
    ++messages;
    // Messages quote names from the archive.
    const std::string text = VisibleText(message, TextLayout::LineBreaks);
    if (code != 0)
      std::fprintf(stderr, "%s (%d)\n", text.c_str(), code);
    else
      std::fprintf(stderr, "%s\n", text.c_str());
  };
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "tessera-cli: %s\n", text.c_str());
  return 2;
}

int CheckedExit(int status) {
  // Output that never reached its file is a failure, whatever the command thought.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    std::fprintf(stderr, "tessera-cli: cannot write the output: %s\n",
                 error ? std::strerror(error) : "write error");
    return status != 0 ? status : 1;
  }
  return status;
}

int main(int argc, char** argv) {
  // Past a file-size limit a write fails and is reported like any other, instead of the
  // signal ending the program with partial files left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("Tessera");
  LinuxVolumeService::SetDiskManager(MakeUDisksManager());
  if (argc < 2) return Usage(stderr);
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) return CheckedExit(Usage(stdout));
  const Args args(argv + 2, argv + argc);
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.Name)) return CheckedExit(c.Run(args));
  std::fprintf(stderr, "tessera-cli: unknown command '%s'\n", argv[1]);
  return Usage(stderr);
}
