#include "KilnWalk.h"

#include "KilnNames.h"
#include "KilnReporter.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

namespace kiln {

namespace {

constexpr int kMaxDepth = 256;

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string LastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Walker {
 public:
  Walker(const Request& request, Reporter& reporter, const struct stat& archive)
      : request_(request), reporter_(reporter), archive_(archive) {}

  void Spec(std::string spec) {
    while (spec.size() > 1 && spec.back() == '/') spec.pop_back();
    found_ = 0;
    size_t slash = spec.rfind('/');
    std::string dir = slash == std::string::npos ? "" : spec.substr(0, slash == 0 ? 1 : slash);
    std::string last = slash == std::string::npos ? spec : spec.substr(slash + 1);
    if (!request_.noDirNames && !CleanPath(spec)) {
      reporter_.Defer(kLibErrSkipped, spec + ": names with \"..\" are not stored");
      return;
    }
    struct stat st;
    if (!HasWildcard(last) && lstat(spec.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      Found(spec, st);
      if (request_.recurse) Directory(spec, "*", 1);
    } else if (!HasWildcard(last) && !request_.recurse) {
      if (lstat(spec.c_str(), &st) == 0) Found(spec, st);
    } else {
      Directory(dir, last, 0);
    }
    if (found_ == 0) reporter_.Defer(kLibErrNoMatch, spec + ": no file matches");
  }

  std::vector<AddItem> Take() { return std::move(items_); }

 private:
  void Directory(const std::string& dir, const std::string& pattern, int depth) {
    if (depth > kMaxDepth) return;
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) {
      if (depth > 0) reporter_.Defer(kLibErrRead, dir + ": " + std::strerror(errno));
      return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      // Hidden names only on request, or when the pattern itself asks for them.
      if (n[0] == '.' && !request_.hiddenFiles && pattern[0] != '.') continue;
      names.push_back(std::move(n));
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
      std::string path = Join(dir, n);
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
      if (MatchPattern(pattern, n, false)) Found(path, st);
      if (request_.recurse && S_ISDIR(st.st_mode)) Directory(path, pattern, depth + 1);
    }
  }

  void Found(const std::string& path, const struct stat& st) {
    ++found_;
    if (archive_.st_ino != 0 && st.st_dev == archive_.st_dev && st.st_ino == archive_.st_ino) return;
    AddItem item;
    item.path = path;
    item.st = st;
    if (S_ISREG(st.st_mode)) {
      item.kind = AddItem::Kind::File;
    } else if (S_ISDIR(st.st_mode)) {
      if (request_.noDirEntries || request_.noDirNames) return;
      item.kind = AddItem::Kind::Dir;
    } else if (S_ISLNK(st.st_mode)) {
      item.kind = AddItem::Kind::Link;
      std::string target(4096, '\0');
      ssize_t n = readlink(path.c_str(), target.data(), target.size());
      if (n < 0) {
        reporter_.Defer(kLibErrRead, path + ": " + std::strerror(errno));
        return;
      }
      target.resize(static_cast<size_t>(n));
      item.target = std::move(target);
    } else {
      reporter_.Defer(kLibErrSkipped, path + ": special file skipped");
      return;
    }
    std::string name;
    if (request_.noDirNames) {
      name = LastComponent(path);
    } else {
      auto clean = CleanPath(path);
      if (!clean) {
        reporter_.Defer(kLibErrSkipped, path + ": names with \"..\" are not stored");
        return;
      }
      name = *clean;
    }
    if (name.empty()) return;  // the root folder itself
    if (request_.forceDos) name = DosName(name);
    if (item.kind == AddItem::Kind::Dir) name += '/';
    auto [it, fresh] = seen_.emplace(name, std::make_pair(st.st_dev, st.st_ino));
    if (!fresh) {
      if (it->second != std::make_pair(st.st_dev, st.st_ino))
        reporter_.Defer(kLibErrSkipped, path + ": another file is already stored as " + name);
      return;
    }
    item.name = std::move(name);
    items_.push_back(std::move(item));
  }

  const Request& request_;
  Reporter& reporter_;
  struct stat archive_;
  int found_ = 0;
  std::vector<AddItem> items_;
  std::map<std::string, std::pair<dev_t, ino_t>> seen_;
};

}  // namespace

std::vector<AddItem> WalkSpecs(const Request& request, Reporter& reporter, const struct stat& archive) {
  Walker walker(request, reporter, archive);
  for (const auto& spec : request.specs) walker.Spec(spec);
  return walker.Take();
}

}  // namespace kiln
