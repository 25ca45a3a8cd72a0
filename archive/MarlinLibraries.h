#pragma once
// Process-wide state of the two compression libraries, shared by every component.

#include <functional>
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

// How many of the first `limit` bytes of `password` to hand over: cut back to a whole UTF-8
// character. A length rather than a copy, so that no copy of a password is freed unwiped.
size_t PasswordPrefixLength(const std::string& password, size_t limit = kPasswordLimit);

// Called with every text handed to a library, wiped or not, just before its memory is
// freed: tests look there for passwords left behind.
extern std::function<void(const char* text, size_t size)> TextReleasedHook;

}  // namespace marlinlib
