#pragma once
// What add, extract, test and delete share on the command line: clustered short
// options, the progress bar, the message sink, and the exit status.

#include <cstdint>
#include <functional>
#include <string>

#include "Commands.h"

// Walks arguments the way getopt does: "-rq9" is three flags, "-Psecret" and "-P secret"
// both give a value, "--" ends the options. `takesValue` tells which short and long
// options take one. `handle` returns false for an unknown option.
struct ParsedOption {
  std::string Name;   // "r", "9", "password"
  std::string Value;  // for options that take one
};
bool ParseArguments(const Args& args, const std::function<bool(const std::string&)>& takesValue,
                    const std::function<bool(const ParsedOption&)>& handle, Args& operands, std::string& error);

// The code page a --names option names (cp932, shift-jis, gbk, utf-8, ...); false with a
// message listing the known names when it names none.
bool ParseNamesOption(const std::string& value, int& codePage, std::string& error);

// A byte count with an optional binary suffix: 1440k, 100m, 2g.
bool ParseByteSize(const std::string& text, int64_t& out);

// Wires a component for an operation: messages to standard error (each error counted),
// a progress bar when standard error is a terminal and `quiet` is off, and prompts only
// when standard input is a terminal.
class OperationConsole {
 public:
  OperationConsole(CliMarlin& cli, bool quiet, bool verbose);
  ~OperationConsole();
  // Messages that carried a library's nonzero error code.
  int Errors() const { return errors_; }
  // Ends the bar's line.
  void Finish();

 private:
  void Draw(bool force);
  void ClearBar();

  CliMarlin& cli_;
  bool bar_ = false;
  bool verbose_ = false;
  bool drawn_ = false;
  int errors_ = 0;
  int64_t total_ = 0, done_ = 0;
  int64_t files_ = 0, fileNo_ = 0;
  int64_t lastDrawMs_ = 0;
  std::string current_;
};

// Writes the result line to standard output; false (with a message) when it could not
// be written, as on a full disk.
bool WriteResult(const std::string& line);
