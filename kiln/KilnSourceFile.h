#pragma once
// A file being added, read through one descriptor from its first byte to its last and checked
// against what the walk found before and after, so that an entry never mixes two states of a
// file, or two files.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kiln {

// The error of a source that is not, or no longer, the file the walk found; beside errno values.
constexpr int kSourceChanged = -1;

class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile() { Close(); }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // Each false leaves Error() set: an errno value or kSourceChanged.
  bool Open(const std::string& path, const struct stat& walked);
  bool Read(uint64_t offset, void* buffer, size_t length);  // a file that ends early has changed
  bool Finish();  // still the file the walk found, unchanged; closes it either way
  void Close();
  int Error() const { return error_; }

 private:
  bool Failed(int error);

  int fd_ = -1;
  std::string path_;
  struct stat walked_ {};
  int error_ = 0;
};

}  // namespace kiln
