#pragma once
// The component as the programs drive it: the build's compression libraries, unattended,
// files deleted for good, every message kept. Operations change the current folder; it is
// given back when the component goes.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TMarlin.h"

namespace testfiles {

inline const std::string kLibDir = TESSERA_LIB_DIR;

// The names listed, in the archive's order.
inline std::vector<std::string> EntryNamesOf(const TMarlin& m) {
  std::vector<std::string> names;
  for (const ZipDirEntry& e : m.Contents()) names.push_back(e.EntryName);
  return names;
}

// A component with a scripted interface that keeps the texts it reports.
struct Recorder {
  ScriptedUi ui;
  TMarlin m;
  std::vector<std::string> messages;
  int dirUpdates = 0;
  explicit Recorder(std::shared_ptr<VolumeService> volumes = nullptr) : m(&ui, std::move(volumes)) {
    m.OnMessage = [this](TMarlin*, int, const std::string& text) { messages.push_back(text); };
    m.OnDirUpdate = [this](TMarlin*) { ++dirUpdates; };
  }
};

struct CwdGuard {
  std::filesystem::path saved = std::filesystem::current_path();
  ~CwdGuard() { std::filesystem::current_path(saved); }
};

struct Op {
  ScriptedUi ui;
  TMarlin m{&ui};
  std::vector<std::pair<int, std::string>> messages;
  CwdGuard cwd;
  explicit Op(const std::string& libDir = kLibDir) {
    m.SetUnattended(true);
    m.SetDLLDirectory(libDir);
    m.SetHowToDelete(DeleteOpts::htdFinal);
    m.OnMessage = [this](TMarlin*, int code, const std::string& text) { messages.emplace_back(code, text); };
  }
  std::string Log() const {
    std::string s;
    for (const auto& [code, text] : messages) s += std::to_string(code) + ": " + text + "\n";
    return s;
  }
  bool Said(int code, const std::string& part) const {
    for (const auto& [c, text] : messages)
      if (c == code && text.find(part) != std::string::npos) return true;
    return false;
  }
  // The "Trace: Field=value" lines of the last library call, by field.
  std::map<std::string, std::string> Trace() const {
    std::map<std::string, std::string> fields;
    for (const auto& [c, text] : messages) {
      if (c != 0 || text.rfind("Trace: ", 0) != 0) continue;
      const size_t eq = text.find('=');
      if (eq != std::string::npos) fields[text.substr(7, eq - 7)] = text.substr(eq + 1);
    }
    return fields;
  }
  void Add(const std::string& archive, std::vector<std::string> specs,
           AddOpts options = {AddOptsEnum::AddDirNames, AddOptsEnum::AddRecurseDirs}) {
    m.SetZipFilename(archive);
    m.SetAddOptions(options);
    m.SetFSpecArgs(specs);
    m.Add();
  }
};

}  // namespace testfiles
