// A scratch folder for fuzz targets that need files: made once per process under
// $TMPDIR, emptied between inputs, removed at exit.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzscratch {

inline const std::string& Folder() {
  // Never destroyed: the exit handler that removes the folder still needs its name.
  static const std::string* path = [] {
    const char* tmp = std::getenv("TMPDIR");
    auto* p = new std::string(std::string(tmp && *tmp ? tmp : "/tmp") + "/tessera-fuzz-XXXXXX");
    if (!::mkdtemp(p->data())) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Folder(), ec);
    });
    return p;
  }();
  return *path;
}

// Removes everything inside the folder (links are removed, never followed).
inline void Clear() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec)) std::filesystem::remove_all(entry, ec);
}

inline std::string Write(const std::string& name, std::string_view bytes) {
  const std::string path = Folder() + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) std::abort();
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += size_t(n);
  }
  ::close(fd);
  return path;
}

// Inputs that hold several files separate them with this line.
constexpr std::string_view kSeparator = "\n--tessera-fuzz-file--\n";

inline std::vector<std::string_view> SplitFiles(const uint8_t* data, size_t size) {
  std::vector<std::string_view> files;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (size_t at; (at = rest.find(kSeparator)) != std::string_view::npos;) {
    files.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
  }
  files.push_back(rest);
  return files;
}

}  // namespace fuzzscratch
