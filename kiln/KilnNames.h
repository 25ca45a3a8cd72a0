#pragma once
// Entry names: how a path on disk becomes a stored name, and how stored names are matched.

#include <optional>
#include <string>

namespace kiln {

// The stored form of `path` (a file or folder path as the walk produced it): without a
// leading "/" or "./", "." components and repeated separators dropped. Empty when the path
// holds a ".." component, which is never stored.
std::optional<std::string> CleanPath(const std::string& path);

// 8.3 upper-case form of one name component.
std::string DosComponent(const std::string& name);
// Applies DosComponent to every component of a '/'-separated name.
std::string DosName(const std::string& name);

// Matches a DOS-style pattern: "*" and "?" as wildcards, "*.*" for every name.
// `crossSlash`: "*" and "?" also match "/" (entry names, where "dir/*" covers the subtree).
bool MatchPattern(const std::string& pattern, const std::string& name, bool crossSlash);
bool HasWildcard(const std::string& s);

}  // namespace kiln
