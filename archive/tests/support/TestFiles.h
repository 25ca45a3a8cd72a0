#pragma once
// Files, folders and peer tools for the archive tests.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testfiles {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
void AppendFile(const std::string& path, const std::string& bytes);
// The names in a folder, sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

struct CommandResult {
  int Status = -1;
  std::string Output;  // standard output and error together
};
// Runs a shell command in `dir` (when given).
CommandResult RunCommand(const std::string& command, const std::string& dir = {});
// Runs a Python 3 script (given as text) with arguments; fails the test on a non-zero exit.
std::string Python(const std::string& script, const std::vector<std::string>& args = {});
std::string Quote(const std::string& s);
// Writes the hand-made archive `name` of fuzz/crafted.py to `path` and returns `path`.
std::string Crafted(const std::string& name, const std::string& path);

// Little-endian helpers for crafting records byte by byte.
std::string LE16(uint16_t v);
std::string LE32(uint32_t v);

// An archive made byte by byte: each entry stores "x" under its name bytes (no UTF-8 flag,
// made on DOS) with its extra field; the central directory claims the given sizes.
struct CraftedEntry {
  std::string Name, Extra;
  uint32_t Packed = 1, Unpacked = 1;
};
std::string CraftArchive(const std::vector<CraftedEntry>& entries);
// Code page 932 bytes of a text.
std::string Sjis(const std::string& text);

}  // namespace testfiles
