#include "KilnReporter.h"

#include "KilnSeams.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kiln {

namespace {
constexpr int64_t kProgressStep = 1 << 20;
}

int32_t Reporter::Call(int32_t action, int32_t code, int64_t size, const std::string& text,
                       CallbackRecord* out) {
  if (cancelled_) return -1;
  if (!callback_) return 0;
  CallbackRecord local;
  CallbackRecord& r = out ? *out : local;
  std::memset(&r, 0, sizeof r);
  r.Caller = caller_;
  r.ActionCode = action;
  r.ErrorCode = code;
  r.FileSize64 = size;
  r.FileSize = static_cast<int32_t>(std::clamp<int64_t>(size, INT32_MIN, INT32_MAX));
  std::memcpy(r.Text, text.data(), std::min(text.size(), sizeof r.Text - 1));
  lastCall_ = std::chrono::steady_clock::now();
  if (callback_(&r) == -1) cancelled_ = true;
  return cancelled_ ? -1 : 0;
}

bool Reporter::Message(int32_t code, const std::string& text) {
  return Call(kActionMessage, code, 0, text) == 0;
}

bool Reporter::NewFile(const std::string& name, int64_t size) {
  return Call(kActionNewFile, 0, size, name) == 0;
}

bool Reporter::Progress(int64_t bytes) {
  while (bytes > 0) {
    int64_t step = std::min(bytes, kProgressStep);
    if (Call(kActionProgress, 0, step, {}) != 0) return false;
    bytes -= step;
  }
  return !cancelled_;
}

bool Reporter::Heartbeat() {
  const int quietMs = Seams().HeartbeatMs >= 0 ? Seams().HeartbeatMs : 200;
  if (std::chrono::steady_clock::now() - lastCall_ < std::chrono::milliseconds(quietMs)) return !cancelled_;
  return Call(kActionProgress, 0, 0, {}) == 0;
}

bool Reporter::TotalSize(int64_t bytes) { return Call(kActionTotalSize, 0, bytes, {}) == 0; }
bool Reporter::TotalFiles(int64_t count) { return Call(kActionTotalFiles, 0, count, {}) == 0; }
bool Reporter::EndOfBatch() { return Call(kActionEndOfBatch, 0, 0, {}) == 0; }

bool Reporter::AskPassword(const std::string& name, std::string& password) {
  CallbackRecord r;
  // -1 here is the user's "no password", not a stop: the failure is still reported.
  if (Call(kActionPassword, 0, 0, name, &r) != 0) {
    cancelled_ = false;
    return false;
  }
  std::string returned(r.Text, strnlen(r.Text, sizeof r.Text));
  // An unattended component answers without writing: the name we sent is still there.
  if (returned.empty() || returned == name.substr(0, sizeof r.Text - 1)) return false;
  std::string answer = returned.substr(0, PASSWORD_BUFFER_SIZE - 1);
  password = answer;
  return true;
}

bool Reporter::FlushDeferred() {
  for (auto& [code, text] : deferred_)
    if (!Message(code, text)) return false;
  deferred_.clear();
  return true;
}

}  // namespace kiln
