#include "OperationSupport.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CodePages.h"
#include "MarlinMessages.h"
#include "TerminalText.h"

bool ParseArguments(const Args& args, const std::function<bool(const std::string&)>& takesValue,
                    const std::function<bool(const ParsedOption&)>& handle, Args& operands, std::string& error) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      operands.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a[1] == '-') {
      ParsedOption o;
      const size_t eq = a.find('=');
      o.Name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (takesValue(o.Name)) {
        if (eq != std::string::npos) o.Value = a.substr(eq + 1);
        else if (i + 1 < args.size()) o.Value = args[++i];
        else return error = "option --" + o.Name + " needs a value", false;
      } else if (eq != std::string::npos) {
        return error = "option --" + o.Name + " takes no value", false;
      }
      if (!handle(o)) return error = "unknown option --" + o.Name, false;
      continue;
    }
    for (size_t k = 1; k < a.size(); ++k) {
      ParsedOption o;
      o.Name = a.substr(k, 1);
      if (takesValue(o.Name)) {
        if (k + 1 < a.size()) o.Value = a.substr(k + 1);
        else if (i + 1 < args.size()) o.Value = args[++i];
        else return error = "option -" + o.Name + " needs a value", false;
        if (!handle(o)) return error = "unknown option -" + o.Name, false;
        break;
      }
      if (!handle(o)) return error = "unknown option -" + o.Name, false;
    }
  }
  return true;
}

bool ParseNamesOption(const std::string& value, int& codePage, std::string& error) {
  codePage = entrynames::ParseCodePage(value);
  if (codePage != 0) return true;
  error = "unknown code page " + VisibleText(value) + " for --names; known:";
  for (const entrynames::CodePageInfo& c : entrynames::CodePages()) error += std::string(" ") + c.Name;
  return false;
}

bool ParseByteSize(const std::string& text, int64_t& out) {
  if (text.empty() || !std::isdigit(uint8_t(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0) return false;
  int shift = 0;
  const std::string suffix = end;
  if (suffix == "k" || suffix == "K") shift = 10;
  else if (suffix == "m" || suffix == "M") shift = 20;
  else if (suffix == "g" || suffix == "G") shift = 30;
  else if (!suffix.empty()) return false;
  if (n > (INT64_MAX >> shift)) return false;
  out = int64_t(n) << shift;
  return true;
}

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int TerminalWidth() {
  winsize ws {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 40) return ws.ws_col;
  return 80;
}

}  // namespace

OperationConsole::OperationConsole(CliMarlin& cli, bool quiet, bool verbose)
    : cli_(cli), bar_(!quiet && ::isatty(STDERR_FILENO)), verbose_(verbose) {
  TMarlin& m = cli_.marlin;
  // Questions need someone to answer them; without a terminal nothing may wait.
  m.SetUnattended(!::isatty(STDIN_FILENO));
  m.SetVerbose(verbose);
  // The volume routines' line per entry is only wanted when asked for.
  const std::string copying(MessageTableText(10105));
  m.OnMessage = [this, copying](TMarlin*, int code, const std::string& text) {
    ++cli_.messages;
    if (code != 0) ++errors_;
    if (code == 0 && !verbose_ && text.rfind(copying, 0) == 0) return;
    ClearBar();
    const std::string shown = VisibleText(text, TextLayout::LineBreaks);
    if (code != 0) std::fprintf(stderr, "%s (%d)\n", shown.c_str(), code);
    else std::fprintf(stderr, "%s\n", shown.c_str());
    Draw(true);
  };
  if (!bar_) return;
  m.OnProgress = [this](TMarlin*, ProgressType type, const std::string& name, int64_t size) {
    switch (type) {
      case ProgressType::ProgrTotalSize: total_ = size; done_ = 0; break;
      case ProgressType::ProgrTotalFiles: files_ = size; fileNo_ = 0; break;
      case ProgressType::ProgrNewFile: current_ = VisibleText(name); ++fileNo_; break;
      case ProgressType::ProgrUpdate: done_ += size; break;
      case ProgressType::ProgrEndOfBatch: done_ = total_; break;
    }
    Draw(type == ProgressType::ProgrEndOfBatch);
  };
}

OperationConsole::~OperationConsole() {
  Finish();
  cli_.marlin.OnProgress = nullptr;
  cli_.marlin.OnMessage = nullptr;
}

void OperationConsole::Draw(bool force) {
  if (!bar_ || (total_ == 0 && files_ == 0)) return;
  const int64_t now = NowMs();
  if (!force && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  const int width = TerminalWidth();
  const int percent = total_ > 0 ? int(std::min<int64_t>(100, done_ * 100 / total_)) : 0;
  constexpr int kBar = 30;
  const int filled = percent * kBar / 100;
  char head[96];
  std::snprintf(head, sizeof head, "[%.*s%*s] %3d%% %lld/%lld ", filled, "##############################",
                kBar - filled, "", percent, (long long)fileNo_, (long long)files_);
  std::string line = head;
  const size_t room = size_t(width - 1) > line.size() ? size_t(width - 1) - line.size() : 0;
  if (current_.size() <= room) line += current_;
  else if (room > 3) line += "..." + current_.substr(current_.size() - (room - 3));
  std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void OperationConsole::ClearBar() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\x1b[K");
  drawn_ = false;
}

void OperationConsole::Finish() {
  if (!drawn_) return;
  std::fputc('\n', stderr);
  drawn_ = false;
  bar_ = false;
}

bool WriteResult(const std::string& line) {
  errno = 0;
  const bool ok = std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF &&
                  std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (!ok) std::fprintf(stderr, "tessera-cli: standard output: %s\n", std::strerror(errno ? errno : EIO));
  return ok;
}
