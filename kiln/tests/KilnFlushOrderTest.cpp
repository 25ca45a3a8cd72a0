// The new archive is on disk before the rename that publishes it: a crash between the two
// cannot be tested, so the order of the calls is. This program defines the calls itself,
// ahead of the C library the compressor library would reach, and notes them.

#include "KilnHarness.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

using namespace kilntest;

namespace {

struct Call {
  std::string what;  // "flush" or "rename"
  ino_t inode;       // of the file flushed or renamed
  std::string to;    // where a rename puts it
};
std::mutex mutex;
std::vector<Call> calls;
bool noting = false;

template <typename Fn>
Fn Real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

void Flushed(int fd) {
  struct stat st;
  std::lock_guard lock(mutex);
  if (noting && fstat(fd, &st) == 0) calls.push_back({"flush", st.st_ino, {}});
}

void Renaming(const char* from, const char* to) {  // the library names both in full
  struct stat st;
  std::lock_guard lock(mutex);
  if (noting && lstat(from, &st) == 0) calls.push_back({"rename", st.st_ino, to});
}

}  // namespace

extern "C" {
int fsync(int fd) {
  Flushed(fd);
  return Real<int (*)(int)>("fsync")(fd);
}
int fdatasync(int fd) {
  Flushed(fd);
  return Real<int (*)(int)>("fdatasync")(fd);
}
int rename(const char* from, const char* to) {
  Renaming(from, to);
  return Real<int (*)(const char*, const char*)>("rename")(from, to);
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  Renaming(from, to);
  return Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from, toDir, to, flags);
}
}

namespace {

// Whether the file renamed to `archive` was flushed before it was renamed.
std::string FlushedBeforeRename(const std::string& archive) {
  std::lock_guard lock(mutex);
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].what != "rename" || calls[i].to != archive) continue;
    for (size_t j = 0; j < i; ++j)
      if (calls[j].what == "flush" && calls[j].inode == calls[i].inode) return "flushed first";
    return "renamed unflushed";
  }
  return "never renamed";
}

TEST(KilnFlushOrder, NewArchiveIsFlushedBeforeItIsRenamedIntoPlace) {
  TempDir t;
  Kiln kiln(CurrentLibrary());
  WriteFile(t / "a.txt", TextBytes(300000, 1));
  WriteFile(t / "b.txt", "b\n");
  InDir here(t.Path());
  const std::string archive = t / "a.zip";
  // A new archive, one added to, one deleted from (copied by the library itself).
  Options del;
  del.deleteOn = true;
  const std::vector<std::pair<std::string, Options>> runs{{"a.txt", Options{}}, {"b.txt", Options{}}, {"a.txt", del}};
  for (const auto& [name, options] : runs) {
    calls.clear();
    noting = true;  // the library's threads are not running between calls
    Outcome out = kiln.Run(archive, {name}, options);
    noting = false;
    EXPECT_EQ(out.result, 1) << name << testing::PrintToString(out.Errors());
    EXPECT_EQ(FlushedBeforeRename(archive), "flushed first") << name << (options.deleteOn ? " deleted" : " added");
  }
  EXPECT_EQ(RunCommand("unzip -Z1 " + Quote(archive)).Output, "b.txt\n");
}

}  // namespace
