#pragma once
// Drives the built libsluice.so through dlopen, as the component does, and records every
// callback.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CompressionLibraries.h"

struct Call {
  int32_t action, code;
  int64_t size;
  std::string text;
};

struct Outcome {
  int32_t count = -1;
  std::vector<Call> calls;
  std::vector<std::pair<int32_t, std::string>> Messages() const {
    std::vector<std::pair<int32_t, std::string>> m;
    for (const Call& c : calls)
      if (c.action == kActionMessage) m.emplace_back(c.code, c.text);
    return m;
  }
  bool HasMessage(int32_t code, const std::string& part) const {
    for (const auto& [c, t] : Messages())
      if (c == code && t.find(part) != std::string::npos) return true;
    return false;
  }
  std::string AllMessages() const {
    std::string s;
    for (const auto& [c, t] : Messages()) s += std::to_string(c) + " " + t + "\n";
    return s;
  }
};

struct Request {
  // Defaults on every member, so that tests can name only the ones they set.
  std::string archive{};
  std::vector<std::string> specs{};
  std::string password{};
  bool test = false, update = false, freshen = false, dirNames = true, overwrite = false, trace = false;
  bool attended = true;
  // Answers action 7: the password to write, or nullptr to leave the record as it is.
  std::function<int32_t(const std::string& entry, std::string& answer)> onPassword{};
  // Its result is the callback's (-1 cancels).
  std::function<int32_t(const Call&)> onCall{};
};

class Sluice {
 public:
  explicit Sluice(const std::string& path) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle_, nullptr) << ::dlerror();
    if (!handle_) return;
    exec_ = reinterpret_cast<SluiceExecFn>(::dlsym(handle_, "SluiceExec"));
    version_ = reinterpret_cast<GetSluiceVersionFn>(::dlsym(handle_, "GetSluiceVersion"));
  }
  ~Sluice() {
    if (handle_) ::dlclose(handle_);
  }
  int32_t Version() const { return version_ ? version_() : 0; }

  // Runs one call with `dir` as the current folder.
  Outcome Run(const Request& q, const std::string& dir) {
    Context ctx{q, {}};
    std::vector<std::string> texts = q.specs;
    std::string password = q.password;
    password.resize(PASSWORD_BUFFER_SIZE, '\0');
    std::string archive = q.archive;
    SluiceParamsCommon c{};
    c.WindowHandle = q.attended ? 1 : 0;
    c.Caller = &ctx;
    c.RecordVersion = SLUICE_RECORD_VERSION;
    c.CallbackProc = &Callback;
    c.TraceOn = q.trace ? -1 : 0;
    c.PasswordText = password.data();
    c.TestOn = q.test ? -1 : 0;
    c.AlwaysOn = -1;
    c.UpdateOn = q.update ? -1 : 0;
    c.FreshenOn = q.freshen ? -1 : 0;
    c.DirNamesOn = q.dirNames ? -1 : 0;
    c.OverwriteOn = q.overwrite ? -1 : 0;
    c.SpecCount = int32_t(texts.size());
    c.ArchivePath = archive.data();
    const int saved = ::open(".", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(::chdir(dir.c_str()), 0);
    Outcome out;
    if (Version() >= SLUICE_CURRENT_LAYOUT_VERSION) {
      std::vector<SluiceFileData> data(texts.size());
      for (size_t i = 0; i < texts.size(); ++i) data[i].Text = texts[i].data();
      SluiceParams p{};
      p.Common = c;
      p.FileData = texts.empty() ? nullptr : data.data();
      p.Marker = PARAMS_MARKER;
      out.count = exec_(&p.Common);
    } else {
      auto p = std::make_unique<SluiceParamsOlder>();
      std::memset(p.get(), 0, sizeof *p);
      p->Common = c;
      p->Marker = PARAMS_MARKER;
      for (size_t i = 0; i < texts.size(); ++i) p->SpecTexts[i] = texts[i].data();
      out.count = exec_(&p->Common);
    }
    EXPECT_EQ(::fchdir(saved), 0);
    ::close(saved);
    out.calls = std::move(ctx.calls);
    return out;
  }

 private:
  struct Context {
    const Request& q;
    std::vector<Call> calls;
  };
  static int32_t Callback(CallbackRecord* r) {
    auto* ctx = static_cast<Context*>(r->Caller);
    Call call{r->ActionCode, r->ErrorCode, r->FileSize64, std::string(r->Text, strnlen(r->Text, CALLBACK_TEXT_SIZE))};
    ctx->calls.push_back(call);
    if (r->ActionCode == kActionPassword) {
      if (!ctx->q.onPassword) return 0;
      std::string answer;
      const int32_t result = ctx->q.onPassword(call.text, answer);
      if (!answer.empty()) std::snprintf(r->Text, PASSWORD_BUFFER_SIZE, "%s", answer.c_str());
      return result;
    }
    return ctx->q.onCall ? ctx->q.onCall(call) : 0;
  }

  void* handle_ = nullptr;
  SluiceExecFn exec_ = nullptr;
  GetSluiceVersionFn version_ = nullptr;
};
