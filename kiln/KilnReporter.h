#pragma once
// The callback side of the library: every report to the component goes through here, on
// the calling thread. Once the component answered -1 nothing more is reported.

#include <CompressionLibraries.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kiln {

class Reporter {
 public:
  Reporter(LibraryCallback callback, void* caller) : callback_(callback), caller_(caller) {}

  // Each returns false when the component asked to stop (now or earlier).
  bool Message(int32_t code, const std::string& text);
  bool NewFile(const std::string& name, int64_t size);
  bool Progress(int64_t bytes);  // cut into steps of at most 1 MiB
  bool TotalSize(int64_t bytes);
  bool TotalFiles(int64_t count);
  bool EndOfBatch();
  // Asks for a password naming `name`; false when none was given (cancel or empty answer).
  bool AskPassword(const std::string& name, std::string& password);

  // While libzip copies data of its own (entries kept from the old archive), a report of no
  // bytes now and then keeps the component's window alive and lets a cancel through.
  bool Heartbeat();

  bool Cancelled() const { return cancelled_; }

  // Messages found before the totals are known wait here, so that totals come first.
  void Defer(int32_t code, std::string text) { deferred_.emplace_back(code, std::move(text)); }
  bool FlushDeferred();

 private:
  int32_t Call(int32_t action, int32_t code, int64_t size, const std::string& text,
               CallbackRecord* out = nullptr);

  LibraryCallback callback_;
  void* caller_;
  bool cancelled_ = false;
  std::chrono::steady_clock::time_point lastCall_ = std::chrono::steady_clock::now();
  std::vector<std::pair<int32_t, std::string>> deferred_;
};

}  // namespace kiln
