#include "KilnTemporaries.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

namespace kiln {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSlots = 16;

// Read by the signal handler: a slot's name is complete before it is marked used.
struct Slot {
  volatile sig_atomic_t used = 0;
  char name[PATH_MAX] = {};
};
Slot slots[kSlots];
struct sigaction previous[3];
int watched = 0;  // names in slots; the handlers are installed while it is above 0
std::mutex mutex;

std::string Prefix(const std::string& base) { return "." + base + ".kiln-"; }

void OnSignal(int sig) {
  for (Slot& s : slots)
    if (s.used) unlink(s.name);
  // Then end as the signal would have ended the process.
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

std::string TemporaryName(const std::string& dir, const std::string& base) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  const char* chars = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 8; ++i) suffix += chars[rng() % 36];
  return dir + "/" + Prefix(base) + std::to_string(getpid()) + "-" + suffix;
}

void WatchTemporary(const std::string& name) {
  if (name.size() >= PATH_MAX) return;
  std::lock_guard lock(mutex);
  for (Slot& s : slots) {
    if (s.used) continue;
    std::memcpy(s.name, name.c_str(), name.size() + 1);
    s.used = 1;
    if (watched++ == 0) {
      for (int i = 0; i < 3; ++i) {
        struct sigaction now {};
        sigaction(kSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_DFL || (previous[i].sa_flags & SA_SIGINFO)) continue;
        now.sa_handler = OnSignal;
        sigemptyset(&now.sa_mask);
        for (int other : kSignals) sigaddset(&now.sa_mask, other);
        sigaction(kSignals[i], &now, nullptr);
      }
    }
    return;
  }
}

void ForgetTemporary(const std::string& name) {
  std::lock_guard lock(mutex);
  for (Slot& s : slots) {
    if (!s.used || name != s.name) continue;
    s.used = 0;
    if (--watched == 0)
      for (int i = 0; i < 3; ++i) {
        struct sigaction now {};
        sigaction(kSignals[i], nullptr, &now);
        if (now.sa_handler == OnSignal) sigaction(kSignals[i], &previous[i], nullptr);
      }
    return;
  }
}

void RemoveStaleTemporaries(const std::string& dir, const std::string& base) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = Prefix(base);
  while (dirent* e = readdir(d)) {
    const char* n = e->d_name;
    if (std::strncmp(n, prefix.c_str(), prefix.size()) != 0) continue;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(n + prefix.size(), &end, 10);
    if (errno != 0 || pid <= 0 || *end != '-' || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) unlinkat(dirfd(d), n, 0);
  }
  closedir(d);
}

}  // namespace kiln
