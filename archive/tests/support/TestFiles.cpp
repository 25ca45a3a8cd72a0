#include "TestFiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace testfiles {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tessera-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

void AppendFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CommandResult RunCommand(const std::string& command, const std::string& dir) {
  const std::string full = (dir.empty() ? "" : "cd " + Quote(dir) + " && ") + "(" + command + ") 2>&1";
  CommandResult r;
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.Output.append(buf, n);
  const int status = ::pclose(p);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Python(const std::string& script, const std::vector<std::string>& args) {
  TempDir dir;
  const std::string file = dir / "script.py";
  WriteFile(file, script);
  std::string cmd = std::string(TESSERA_PYTHON) + " " + Quote(file);
  for (const auto& a : args) cmd += " " + Quote(a);
  CommandResult r = RunCommand(cmd);
  EXPECT_EQ(r.Status, 0) << r.Output;
  return r.Output;
}

std::string Crafted(const std::string& name, const std::string& path) {
  const CommandResult r = RunCommand(std::string(TESSERA_PYTHON) + " " + Quote(TESSERA_CRAFTED) + " " + Quote(name) +
                                     " " + Quote(path));
  EXPECT_EQ(r.Status, 0) << r.Output;
  return path;
}

std::string LE16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string LE32(uint32_t v) { return LE16(uint16_t(v)) + LE16(uint16_t(v >> 16)); }

std::string CraftArchive(const std::vector<CraftedEntry>& entries) {
  std::string body, central;
  const uint32_t crc = 0x8CDC1683;  // CRC-32 of "x"
  for (const auto& [name, extra, packed, unpacked] : entries) {
    const uint32_t offset = uint32_t(body.size());
    body += LE32(0x04034B50) + LE16(20) + LE16(0) + LE16(0) + LE32(0x56B15000) + LE32(crc) + LE32(1) + LE32(1) +
            LE16(uint16_t(name.size())) + LE16(uint16_t(extra.size())) + name + extra + "x";
    central += LE32(0x02014B50) + LE16(20) + LE16(20) + LE16(0) + LE16(0) + LE32(0x56B15000) + LE32(crc) +
               LE32(packed) + LE32(unpacked) + LE16(uint16_t(name.size())) + LE16(uint16_t(extra.size())) + LE16(0) +
               LE16(0) + LE16(0) + LE32(0x20) + LE32(offset) + name + extra;
  }
  return body + central + LE32(0x06054B50) + LE16(0) + LE16(0) + LE16(uint16_t(entries.size())) +
         LE16(uint16_t(entries.size())) + LE32(uint32_t(central.size())) + LE32(uint32_t(body.size())) + LE16(0);
}

std::string Sjis(const std::string& text) {
  return Python("import sys\nsys.stdout.buffer.write(sys.argv[1].encode('cp932'))\n", {text});
}

}  // namespace testfiles
