#pragma once
// Process-wide state of the two compression libraries, shared by every component.

#include <string>
#include <vector>

namespace marlinlib {

struct Library {
  void* Handle = nullptr;
  void* Exec = nullptr;     // KilnExec / SluiceExec
  void* Version = nullptr;  // GetKilnVersion / GetSluiceVersion
  // Entry-point calls now running. A library unloaded during one (from an event handler
  // run inside the callback) is closed only when the last call has returned.
  int CallsRunning = 0;
  std::vector<void*> PendingClose;

  bool Loaded() const { return Handle != nullptr; }
  // A library without either entry point is never called.
  bool Usable() const { return Handle && Exec && Version; }
  int VersionNumber() const;
  void Unload();
};

Library& Kiln();
Library& Sluice();

// Counts one entry-point call for the lifetime of the guard.
class CallGuard {
 public:
  explicit CallGuard(Library& lib) : lib_(lib) { ++lib_.CallsRunning; }
  ~CallGuard();
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;

 private:
  Library& lib_;
};

// The longest password the libraries' field holds, in bytes; a longer one is refused.
constexpr size_t kPasswordLimit = 80;

// The first `limit` bytes of `password`, cut back to a whole UTF-8 character.
std::string PasswordPrefix(const std::string& password, size_t limit = kPasswordLimit);

}  // namespace marlinlib
