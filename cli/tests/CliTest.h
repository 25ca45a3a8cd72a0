#pragma once
// tessera-cli run as a user runs it: by the shell, with nothing to read on standard input.

#include <gtest/gtest.h>

#include <filesystem>

#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

inline const std::string kCli = TESSERA_CLI;

// A file-size limit (in blocks) makes every write past it fail, as on a full disk.
inline CommandResult Cli(const std::string& args, const std::string& dir = {}, const std::string& limit = {}) {
  const std::string prefix = limit.empty() ? "" : "ulimit -f " + limit + " && ";
  return RunCommand(prefix + Quote(kCli) + " " + args + " </dev/null", dir);
}
