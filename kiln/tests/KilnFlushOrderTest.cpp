// The new archive is on disk before the rename that publishes it: a crash between the two
// cannot be tested, so the order of the calls is. This program defines the calls itself,
// ahead of the C library the compressor library would reach, and notes them.

#include "KilnHarness.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

using namespace kilntest;

namespace {

struct Call {
  bool flush;      // else a rename
  ino_t inode;     // of the file flushed or renamed
  std::string to;  // where a rename puts it
};
std::mutex mutex;
std::vector<Call> calls;
bool noting = false;

template <typename Fn>
Fn Real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The library names both files of a rename in full.
void Note(int fd, const char* from, const char* to) {
  struct stat st;
  std::lock_guard lock(mutex);
  if (noting && (from ? lstat(from, &st) : fstat(fd, &st)) == 0) calls.push_back({!from, st.st_ino, to ? to : ""});
}

}  // namespace

extern "C" {
int fsync(int fd) {
  Note(fd, nullptr, nullptr);
  return Real<int (*)(int)>("fsync")(fd);
}
int rename(const char* from, const char* to) {
  Note(-1, from, to);
  return Real<int (*)(const char*, const char*)>("rename")(from, to);
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  Note(-1, from, to);
  return Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from, toDir, to, flags);
}
}

namespace {

// Whether the file renamed to `archive` was flushed before it was renamed.
std::string FlushedBeforeRename(const std::string& archive) {
  std::lock_guard lock(mutex);
  for (auto r = calls.begin(); r != calls.end(); ++r)
    if (!r->flush && r->to == archive)
      return std::any_of(calls.begin(), r, [&](const Call& c) { return c.flush && c.inode == r->inode; })
                 ? "flushed first"
                 : "renamed unflushed";
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
  for (const auto& [name, options] : std::vector<std::pair<std::string, Options>>{
           {"a.txt", Options{}}, {"b.txt", Options{}}, {"a.txt", Options{.deleteOn = true}}}) {
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
