#pragma once
// Which entry names may be written where. The self-extractor stub, the decompressor library
// and the component share this one rule, so it is C++20 and POSIX only.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace entrypaths {

// A name like "C:x" or "c:/x" means a drive on the system that wrote it.
inline bool HasDriveLetter(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// Splits an entry name into the components it creates below the extract folder (none for
// "./"). A '\' is taken as a separator, since broken archivers store them. False for a
// name that would land outside the folder: absolute, a drive letter, "..", or a NUL.
inline bool SplitEntryName(std::string_view name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name[0] == '/' || name[0] == '\\' || HasDriveLetter(name) ||
      name.find('\0') != std::string_view::npos)
    return false;
  size_t from = 0;
  while (from <= name.size()) {
    size_t to = name.find_first_of("/\\", from);
    if (to == std::string_view::npos) to = name.size();
    const std::string_view part = name.substr(from, to - from);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    from = to + 1;
  }
  return true;
}

// Whether a symbolic link stored as `linkParts` (its components below the extract folder)
// with `target` points inside the folder. Only leading ".." components are allowed: they
// climb real folders, and what follows only descends, so a chain of such links cannot
// climb out through a link that points elsewhere than its name suggests.
inline bool LinkTargetInside(const std::vector<std::string>& linkParts, std::string_view target) {
  if (linkParts.empty() || target.empty() || target[0] == '/' ||
      target.find('\0') != std::string_view::npos || target.size() > 4095)
    return false;
  long depth = long(linkParts.size()) - 1;  // the folder the link lies in
  bool descended = false;
  size_t from = 0;
  while (from <= target.size()) {
    size_t to = target.find('/', from);
    if (to == std::string_view::npos) to = target.size();
    const std::string_view part = target.substr(from, to - from);
    if (part == "..") {
      if (descended || --depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      descended = true;
    }
    from = to + 1;
  }
  return true;
}

enum class FolderFailure { None, Create, LinkInWay, Open };

// Opens (creating when `create`) the folder `part` in the folder `parentFd`, never through a
// symbolic link: it could lead anywhere. Returns its descriptor, with `made` telling whether
// this call created it, or -1 with `why` and `err` set.
inline int OpenFolder(int parentFd, const char* part, bool create, bool& made, FolderFailure& why, int& err) {
  made = false;
  if (create) {
    if (::mkdirat(parentFd, part, 0777) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      why = FolderFailure::Create, err = errno;
      return -1;
    }
  }
  const int fd = ::openat(parentFd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    why = (err == ELOOP || err == ENOTDIR) ? FolderFailure::LinkInWay : FolderFailure::Open;
  }
  return fd;
}

// Opens (creating when `create`) the first `count` components of `parts` below `rootFd`.
// Returns the folder's descriptor, or -1 with `why` and `err` set.
inline int OpenFolders(int rootFd, const std::vector<std::string>& parts, size_t count, bool create,
                       FolderFailure& why, int& err) {
  why = FolderFailure::None;
  err = 0;
  int fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    why = FolderFailure::Open, err = errno;
    return -1;
  }
  for (size_t i = 0; i < count && i < parts.size(); ++i) {
    bool made = false;
    const int next = OpenFolder(fd, parts[i].c_str(), create, made, why, err);
    ::close(fd);
    fd = next;
    if (fd < 0) return -1;
  }
  err = 0;
  return fd;
}

}  // namespace entrypaths
