#include "KilnNames.h"

#include <fnmatch.h>

#include <cctype>
#include <vector>

namespace kiln {

std::optional<std::string> CleanPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") parts.push_back(part);
    i = j + 1;
  }
  std::string out;
  for (auto& p : parts) {
    if (!out.empty()) out += '/';
    out += p;
  }
  return out;
}

std::string DosComponent(const std::string& name) {
  auto clean = [](std::string s, size_t max) {
    std::string out;
    for (unsigned char c : s) {
      if (out.size() == max) break;
      if (c == ' ' || c == '.') continue;
      if (c < 0x20 || c >= 0x7F || std::string("\"*+,/:;<=>?[\\]|").find(static_cast<char>(c)) != std::string::npos)
        out += '_';
      else
        out += static_cast<char>(std::toupper(c));
    }
    return out;
  };
  size_t dot = name.rfind('.');
  // A leading dot (hidden file) is no extension separator.
  if (dot == 0 || dot == std::string::npos) {
    std::string base = clean(name, 8);
    return base.empty() ? "_" : base;
  }
  std::string base = clean(name.substr(0, dot), 8);
  std::string ext = clean(name.substr(dot + 1), 3);
  // push_back, not assigning "_": g++ 12 warns falsely (-Wrestrict) on that at -O2.
  if (base.empty()) base.push_back('_');
  if (!ext.empty()) {
    base += '.';
    base += ext;
  }
  return base;
}

std::string DosName(const std::string& name) {
  std::string out;
  size_t i = 0;
  while (i < name.size()) {
    size_t j = name.find('/', i);
    if (j == std::string::npos) j = name.size();
    if (!out.empty()) out += '/';
    out += DosComponent(name.substr(i, j - i));
    i = j + 1;
  }
  if (!name.empty() && name.back() == '/') out += '/';
  return out;
}

bool MatchPattern(const std::string& pattern, const std::string& name, bool crossSlash) {
  std::string p = pattern;
  // "*.*" in the last component means every name, with or without a dot.
  if (p == "*.*") p = "*";
  else if (p.size() > 4 && p.compare(p.size() - 4, 4, "/*.*") == 0) p.resize(p.size() - 2);
  // Only "*" and "?" are wildcards: a "[" in a name stands for itself.
  std::string literal;
  for (char c : p) literal += c == '[' ? std::string("[[]") : std::string(1, c);
  p = literal;
  int flags = FNM_NOESCAPE | (crossSlash ? 0 : FNM_PATHNAME);
  return fnmatch(p.c_str(), name.c_str(), flags) == 0;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace kiln
