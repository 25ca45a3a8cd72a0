// tessera-cli sfx and unsfx: conversion between plain and self-extracting archives.

#include <cstdio>

#include "Commands.h"
#include "TerminalText.h"

namespace {

// Both conversions tell their result code and the archive the component holds afterwards.
int Report(const char* operation, const CliMarlin& cli, int result) {
  std::printf("%s: result %d\narchive: %s\n", operation, result, VisibleText(cli.marlin.ZipFilename()).c_str());
  return result == 0 ? 0 : 1;
}

}  // namespace

constexpr const char* kSfxHelp =
    "usage: tessera-cli sfx [OPTIONS] ARCHIVE.zip\n"
    "  --caption T            title the program shows\n"
    "  --dir D                default extract folder\n"
    "  --command \"PROG|ARGS\"  run after extracting; every >< becomes the extract folder\n"
    "  --overwrite MODE       existing files: ask (default), always or never\n"
    "  --ask-command          ask before running the command\n"
    "  --ask-files            let the user choose the entries\n"
    "  --auto-run             extract to the default folder without a question, then run\n"
    "  --hide-overwrite       do not let the user change the overwrite mode\n"
    "  --no-size-check        do not refuse a program whose size has changed\n"
    "  --stub PATH            the stub to use instead of the installed Stubby.bin\n"
    "  --no-trash             delete the old archive instead of moving it to the trash\n";

int SfxCommand(const Args& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return std::fputs(kSfxHelp, stdout), 0;
  CliMarlin cli;
  TMarlin& m = cli.marlin;
  m.SetUnattended(true);
  std::string archive;
  SFXOpts options = m.SFXOptions();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "--caption" && value(v)) m.SetSFXCaption(v);
    else if (a == "--dir" && value(v)) m.SetSFXDefaultDir(v);
    else if (a == "--command" && value(v)) m.SetSFXCommandLine(v);
    else if (a == "--stub" && value(v)) m.SetSFXPath(v);
    else if (a == "--overwrite" && value(v)) {
      if (v == "ask") m.SetSFXOverWriteMode(OvrOpts::OvrConfirm);
      else if (v == "always") m.SetSFXOverWriteMode(OvrOpts::OvrAlways);
      else if (v == "never") m.SetSFXOverWriteMode(OvrOpts::OvrNever);
      else return UsageError("sfx: --overwrite takes ask, always or never");
    } else if (a == "--ask-command") options.Include(SFXOptsEnum::SFXAskCmdLine);
    else if (a == "--ask-files") options.Include(SFXOptsEnum::SFXAskFiles);
    else if (a == "--auto-run") options.Include(SFXOptsEnum::SFXAutoRun);
    else if (a == "--hide-overwrite") options.Include(SFXOptsEnum::SFXHideOverWriteBox);
    else if (a == "--no-size-check") options.Exclude(SFXOptsEnum::SFXCheckSize);
    else if (a == "--no-trash") m.SetHowToDelete(DeleteOpts::htdFinal);
    else if (!a.empty() && a[0] == '-') return UsageError("sfx: unknown option or missing value: " + a);
    else if (archive.empty()) archive = a;
    else return UsageError("sfx: only one archive can be converted");
  }
  if (archive.empty()) return UsageError("sfx: no archive given");
  m.SetSFXOptions(options);
  m.SetZipFilename(archive);
  return Report("sfx", cli, m.ConvertSFX());
}

int UnsfxCommand(const Args& args) {
  CliMarlin cli;
  TMarlin& m = cli.marlin;
  m.SetUnattended(true);
  std::string archive;
  for (const std::string& a : args) {
    if (a == "--no-trash") m.SetHowToDelete(DeleteOpts::htdFinal);
    else if (!a.empty() && a[0] == '-') return UsageError("unsfx: unknown option " + a);
    else if (archive.empty()) archive = a;
    else return UsageError("unsfx: only one archive can be converted");
  }
  if (archive.empty()) return UsageError("unsfx: no archive given");
  m.SetZipFilename(archive);
  return Report("unsfx", cli, m.ConvertZIP());
}
