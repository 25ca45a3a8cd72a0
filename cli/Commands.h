#pragma once
// The subcommands of tessera-cli. Each takes its arguments (without the command name)
// and returns the exit status: 0 only when the operation succeeded.

#include <memory>
#include <string>
#include <vector>

#include "ConsoleUi.h"
#include "TMarlin.h"

using Args = std::vector<std::string>;

int ListCommand(const Args& args);
int SfxCommand(const Args& args);
int UnsfxCommand(const Args& args);
int SpanCommand(const Args& args);
int JoinCommand(const Args& args);
int AddCommand(const Args& args);
int ExtractCommand(const Args& args);
int TestCommand(const Args& args);
int DeleteCommand(const Args& args);

// A component wired for the command line: messages to standard error, boxes on the
// terminal.
struct CliMarlin {
  ConsoleUi ui;
  TMarlin marlin{&ui};
  int messages = 0;
  CliMarlin();
};

// Flushes standard output and turns a failed write (a full disk, a closed pipe) into a
// failing exit status with a message. main applies it to the status of every command.
int CheckedExit(int status);

// Reports a usage or argument error on standard error and returns exit status 2.
int UsageError(const std::string& text);
