#include "Batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "CentralDirectory.h"
#include "EntryDecoder.h"
#include "EntryPaths.h"
#include "FileModes.h"
#include "StagedFile.h"

namespace sluice {
namespace {

constexpr uint64_t kProgressStep = 1024 * 1024;
// How far the worker on the entry being reported may decode ahead of what the callback
// has been told: a cancel then lands within this much work, however fast the worker runs.
constexpr uint64_t kMaxLead = 4 * kProgressStep;
constexpr size_t kMaxLinkTarget = 4095;
// How often the reporting thread looks for finished entries. Waking it for each one would
// cost two context switches an entry, more than a small one takes to extract.
constexpr auto kReportPoll = std::chrono::milliseconds(2);

// The callback, called only from the thread that called the library.
class Reporter {
 public:
  Reporter(LibraryCallback callback, void* caller) : callback_(callback), caller_(caller) {}

  bool Cancelled() const { return cancelled_; }
  void Report(int32_t action, int32_t code, uint64_t size, const std::string& text = {}) {
    if (cancelled_) return;
    CallbackRecord r{};
    if (Call(r, action, code, size, text) == -1) cancelled_ = true;
  }
  void Message(int32_t code, const std::string& text) { Report(kActionMessage, code, 0, text); }
  // A cancelled answer, an empty one and an unchanged one all mean no password.
  bool AskPassword(const std::string& name, std::string& password) {
    if (cancelled_ || !callback_) return false;
    CallbackRecord r{};
    if (Call(r, kActionPassword, 0, 0, name) != 0) return false;
    r.Text[CALLBACK_TEXT_SIZE - 1] = '\0';
    const std::string answer(r.Text, strnlen(r.Text, PASSWORD_BUFFER_SIZE - 1));
    if (answer.empty() || answer == name.substr(0, CALLBACK_TEXT_SIZE - 1)) return false;
    password = answer;
    return true;
  }

 private:
  int32_t Call(CallbackRecord& r, int32_t action, int32_t code, uint64_t size, const std::string& text) {
    if (!callback_) return 0;
    r.Caller = caller_;
    r.ActionCode = action;
    r.ErrorCode = code;
    r.FileSize64 = int64_t(std::min<uint64_t>(size, INT64_MAX));
    r.FileSize = int32_t(std::min<uint64_t>(size, INT32_MAX));
    const size_t n = std::min(text.size(), size_t(CALLBACK_TEXT_SIZE - 1));
    std::memcpy(r.Text, text.data(), n);
    return callback_(&r);
  }

  LibraryCallback callback_;
  void* caller_;
  bool cancelled_ = false;
};

// Names come from the archive: control characters never reach a message, and a '\' stored
// by a broken archiver shows as the separator it is taken for.
std::string Printable(std::string s) {
  for (char& c : s)
    if (uint8_t(c) < 0x20 || c == 0x7F) c = '?';
    else if (c == '\\') c = '/';
  return s;
}

// The folders the batch writes into, shared by the workers: those it made (nothing stood in
// them before, so a name there can be taken only by this batch), and those swept once of what
// killed runs left there (a folder just made holds nothing to sweep).
class FolderLog {
 public:
  void Made(const std::string& key) {
    std::lock_guard lock(mutex_);
    made_.insert(key);
  }
  bool WasMade(const std::string& key) {
    std::lock_guard lock(mutex_);
    return made_.count(key) != 0;
  }
  void Sweep(const std::string& key, int fd) {
    {
      std::lock_guard lock(mutex_);
      if (made_.count(key) || !swept_.insert(key).second) return;
    }
    stagedfile::RemoveStale(fd);
  }

 private:
  std::mutex mutex_;
  std::unordered_set<std::string> made_, swept_;
};

// Folders a worker has opened (and made, when `create`) on the way to its files, keyed
// "a/b/". Entries of one folder come together, and a new folder is opened from its nearest
// open ancestor: one call to make it and one to open it, however deep it lies.
class FolderCache {
 public:
  FolderCache(int root, FolderLog& log, bool create) : root_(root), log_(log), create_(create) {}
  ~FolderCache() { Clear(); }
  FolderCache(const FolderCache&) = delete;
  FolderCache& operator=(const FolderCache&) = delete;

  // The first `count` components of `parts` (made where missing, when the cache creates;
  // then swept too) and their key: a descriptor the cache owns, or -1 with `why` and `err`
  // set.
  int Open(const std::vector<std::string>& parts, size_t count, std::string& key, entrypaths::FolderFailure& why,
           int& err) {
    why = entrypaths::FolderFailure::None, err = 0;
    key.clear();
    int fd = root_;
    size_t have = 0;
    for (size_t i = 0; i < count; ++i) {
      key += parts[i];
      key += '/';
      if (const auto it = open_.find(key); it != open_.end()) fd = it->second, have = i + 1;
    }
    if (have == count) {
      if (count == 0 && create_) log_.Sweep(key, fd);
      return fd;
    }
    key.clear();
    for (size_t i = 0; i < have; ++i) key += parts[i] + '/';
    for (size_t i = have; i < count; ++i) {
      bool made = false;
      const int next = entrypaths::OpenFolder(fd, parts[i].c_str(), create_, made, why, err);
      if (next < 0) return -1;
      key += parts[i] + '/';
      if (made) log_.Made(key);
      if (open_.size() >= 256) Clear();  // `fd` is no longer needed
      open_.emplace(key, next);
      fd = next;
    }
    if (create_) log_.Sweep(key, fd);
    return fd;
  }

 private:
  void Clear() {
    for (const auto& [key, fd] : open_) ::close(fd);
    open_.clear();
  }
  int root_;
  FolderLog& log_;
  bool create_;
  std::unordered_map<std::string, int> open_;
};

struct Job {
  size_t index = 0;                // in the directory
  std::vector<std::string> parts;  // below the extract folder
  bool nameSafe = true;
  size_t after = SIZE_MAX;  // an earlier job with the same target, to finish first
  // Written by the worker before `finished`, read by the reporting thread after.
  std::atomic<uint64_t> done{0};
  std::atomic<uint64_t> reported{0};  // written by the reporting thread
  bool waitsForReport = false;        // under the batch's mutex
  std::atomic<bool> finished{false};
  bool ok = false;
  bool deferredLink = false;  // a link, made at the end by the reporting thread
  std::string linkTarget;
  std::vector<std::pair<int32_t, std::string>> messages;
  // A password request, answered by the reporting thread while this job is reported.
  bool wantsPassword = false, answered = false, gotPassword = false;
  std::string password;
};

class Batch {
 public:
  explicit Batch(const BatchOptions& o) : o_(o), reporter_(o.callback, o.caller) {}
  int32_t Run();

 private:
  bool Select();
  void Work();
  void Process(Job& job, EntryDecoder& decoder, FolderCache& folders);
  void Extract(Job& job, const ArchiveEntry& e, EntryDecoder& decoder, FolderCache& folders);
  Job* PendingLink(const Job& job);
  DecodeResult DecodeEntry(Job& job, const ArchiveEntry& e, EntryDecoder& decoder, const ByteSink& sink);
  void WaitForReport(Job& job, uint64_t done);
  bool ReportJob(Job& job);
  void Cancel();
  void MakeLink(Job& job, FolderCache& folders);
  void FinishFolders(FolderCache& folders);
  void Say(Job& job, int32_t code, const std::string& reason) {
    job.messages.emplace_back(code, Printable(dir_.entries[job.index].name) + ": " + reason);
  }

  const BatchOptions& o_;
  Reporter reporter_;
  int fd_ = -1, root_ = -1;
  ArchiveDirectory dir_;
  std::vector<std::unique_ptr<Job>> jobs_;
  std::atomic<size_t> next_{0};
  std::atomic<int> afterWaiters_{0};  // workers waiting for an earlier entry of their target
  std::atomic<bool> stop_{false};
  std::atomic<Job*> reporting_{nullptr};  // the job whose progress the callback is told
  FolderLog folderLog_;
  bool unnamed_ = true;  // whether files are made unnamed (StagedFile)
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string password_;  // the last one that worked or was given; under mutex_
  mode_t umask_ = 022;
};

bool MatchFrom(const char* p, const char* n) {
  // Iterative '*' backtracking: linear in practice, never exponential.
  const char *star = nullptr, *resume = nullptr;
  while (*n) {
    if (*p == '?' || (*p && *p == *n && *p != '*')) {
      ++p, ++n;
    } else if (*p == '*') {
      star = p++, resume = n;
    } else if (star) {
      p = star + 1, n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

}  // namespace

bool MatchesSpec(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  std::string p = pattern;
  std::replace(p.begin(), p.end(), '\\', '/');
  return MatchFrom(p.c_str(), n.c_str());
}

namespace {

bool Batch::Select() {
  std::vector<bool> matched(o_.specs.size(), false);
  for (size_t i = 0; i < dir_.entries.size(); ++i) {
    const ArchiveEntry& e = dir_.entries[i];
    bool take = o_.specs.empty();
    for (size_t s = 0; s < o_.specs.size(); ++s)
      if (MatchesSpec(o_.specs[s], e.name)) take = matched[s] = true;
    if (!take) continue;
    auto job = std::make_unique<Job>();
    job->index = i;
    job->nameSafe = entrypaths::SplitEntryName(e.name, job->parts) && e.storedNameSafe;
    if (!o_.test && !o_.dirNames) {
      if (e.IsDir() && !e.IsSymlink()) continue;  // folders are made only with their names
      if (job->parts.size() > 1) job->parts.erase(job->parts.begin(), job->parts.end() - 1);
    }
    jobs_.push_back(std::move(job));
  }
  // Entries that land on the same file are written in archive order, as peers do.
  std::unordered_map<std::string, size_t> targets;
  for (size_t j = 0; j < jobs_.size(); ++j) {
    std::string key;
    for (const std::string& part : jobs_[j]->parts) key += part + '/';
    const auto [it, added] = targets.try_emplace(key, j);
    if (!added) jobs_[j]->after = it->second, it->second = j;
  }
  for (size_t s = 0; s < o_.specs.size(); ++s)
    if (!matched[s]) reporter_.Message(kLibErrNoMatch, Printable(o_.specs[s]) + ": no file matches");
  return !reporter_.Cancelled();
}

DecodeResult Batch::DecodeEntry(Job& job, const ArchiveEntry& e, EntryDecoder& decoder, const ByteSink& sink) {
  std::string password;
  {
    std::lock_guard lock(mutex_);
    password = password_;
  }
  const PasswordAsk ask = [&](std::string& answer) {
    std::unique_lock lock(mutex_);
    // Another entry may have been given the right one meanwhile.
    if (!password_.empty() && password_ != answer) {
      answer = password_;
      return true;
    }
    job.wantsPassword = true, job.answered = false, job.password = answer;
    changed_.notify_all();
    changed_.wait(lock, [&] { return job.answered || stop_; });
    job.wantsPassword = false;
    if (!job.answered || !job.gotPassword) return false;
    answer = password_ = job.password;
    return true;
  };
  uint64_t reported = 0;
  const ByteSink counting = [&](const uint8_t* data, size_t size) {
    if (stop_) return false;
    if (!sink(data, size)) return false;
    reported += size;
    job.done.store(reported, std::memory_order_relaxed);
    if (reporting_.load(std::memory_order_relaxed) == &job &&
        reported - job.reported.load(std::memory_order_relaxed) > kMaxLead)
      WaitForReport(job, reported);
    return !stop_;
  };
  return decoder.Decode(e, password, ask, counting);
}

void Batch::WaitForReport(Job& job, uint64_t done) {
  std::unique_lock lock(mutex_);
  job.waitsForReport = true;
  changed_.notify_all();
  changed_.wait(lock, [&] { return stop_ || done - job.reported.load() <= kMaxLead / 2; });
  job.waitsForReport = false;
}

void Batch::Process(Job& job, EntryDecoder& decoder, FolderCache& folders) {
  const ArchiveEntry& e = dir_.entries[job.index];
  if (o_.test) {
    const DecodeResult r = DecodeEntry(job, e, decoder, [](const uint8_t*, size_t) { return true; });
    if (r.code && !r.sinkStopped) Say(job, r.code, r.reason);
    job.ok = r.code == 0 && !stop_;
    if (job.ok && o_.verbose) Say(job, 0, "OK");
    return;
  }
  if (!job.nameSafe) {
    Say(job, kLibErrUnsafeName, "refused: the name leads outside the extract folder");
    return;
  }
  if (job.parts.empty()) {  // "./" and the like: the extract folder itself
    job.ok = true;
    return;
  }
  Extract(job, e, decoder, folders);
}

void Batch::Extract(Job& job, const ArchiveEntry& e, EntryDecoder& decoder, FolderCache& folders) {
  const bool isDir = e.IsDir() && !e.IsSymlink();
  entrypaths::FolderFailure why;
  int err = 0;
  std::string key;
  const int parent = folders.Open(job.parts, isDir ? job.parts.size() : job.parts.size() - 1, key, why, err);
  if (parent < 0) {
    if (why == entrypaths::FolderFailure::LinkInWay)
      Say(job, kLibErrUnsafeName, "refused: a symbolic link or a file stands on its way");
    else
      Say(job, err == ENOSPC ? kLibErrDiskFull : kLibErrWrite,
          std::string(why == entrypaths::FolderFailure::Create ? "cannot create folder: " : "cannot open folder: ") +
              std::strerror(err));
    return;
  }
  if (isDir) {
    job.ok = true;  // times and modes are set at the end
    return;
  }

  const std::string& last = job.parts.back();
  // In a folder this batch made, only its own entries take names: one of the same name
  // (ordered by `after`) or a folder it made.
  const bool fresh = job.after == SIZE_MAX && folderLog_.WasMade(key) && !folderLog_.WasMade(key + last + '/');
  struct stat st{};
  bool exists = !fresh && ::fstatat(parent, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  // A link of this extract is made only at the end: until then its name counts as taken,
  // by a file as old as its entry.
  Job* link = exists ? nullptr : PendingLink(job);
  if (link) {
    exists = true;
    st.st_mode = S_IFLNK;
    st.st_mtime = time_t(dir_.entries[link->index].mtime);
  }
  if (exists && S_ISDIR(st.st_mode)) {
    Say(job, kLibErrExists, "a folder of that name exists");
    return;
  }
  if (o_.freshen && !exists) return;  // freshen only replaces files that are there
  if (exists && (o_.update || o_.freshen)) {
    // DOS times have a 2-second grain: a file is not older for rounding alone.
    if (e.mtime <= int64_t(st.st_mtime) + (e.exactTime ? 0 : 1)) {
      if (o_.verbose) Say(job, 0, "skipped: the file is not older than the entry");
      return;
    }
  } else if (exists && !o_.overwrite) {
    Say(job, kLibErrExists, "skipped: the file exists");
    return;
  }

  if (e.IsSymlink()) {
    std::string target;
    const DecodeResult r = DecodeEntry(job, e, decoder, [&](const uint8_t* d, size_t n) {
      if (target.size() + n > kMaxLinkTarget) return false;
      target.append(reinterpret_cast<const char*>(d), n);
      return true;
    });
    if (r.code) {
      Say(job, r.code, r.sinkStopped && !stop_ ? "refused: the link's target is too long" : r.reason);
      return;
    }
    if (!entrypaths::LinkTargetInside(job.parts, target)) {
      Say(job, kLibErrUnsafeName, "refused: the link points outside the extract folder");
      return;
    }
    job.linkTarget = std::move(target);
    job.deferredLink = true;
    return;
  }

  // Named only when complete and checked, so that a damaged entry never replaces a good
  // file nor leaves a partial one.
  stagedfile::StagedFile out;
  if (!out.Open(parent, unnamed_, filemodes::ExtractedMode(e.UnixMode(), false, umask_))) {
    const int err = errno;
    Say(job, err == ENOSPC ? kLibErrDiskFull : kLibErrWrite, std::string("cannot create file: ") + std::strerror(err));
    return;
  }
  auto writeError = [&](int err) {
    Say(job, err == ENOSPC || err == EDQUOT ? kLibErrDiskFull : kLibErrWrite,
        std::string("write error: ") + std::strerror(err));
  };
  int writeErr = 0;
  const DecodeResult r = DecodeEntry(job, e, decoder, [&](const uint8_t* d, size_t n) {
    if (out.Write(d, n)) return true;
    writeErr = errno;
    return false;
  });
  if (r.code) {
    if (writeErr) writeError(writeErr);
    else if (!r.sinkStopped) Say(job, r.code, r.reason);
    return;
  }
  const timespec times[2] = {{time_t(e.mtime), 0}, {time_t(e.mtime), 0}};
  ::futimens(out.Fd(), times);
  if (stop_) return;  // cancelled meanwhile: the file is dropped unnamed
  if (!out.Publish(last, exists)) {
    const int err = errno;
    if (err == EEXIST) Say(job, kLibErrExists, "skipped: the file exists");
    else if (err == EIO || err == ENOSPC || err == EDQUOT) writeError(err);
    else Say(job, kLibErrWrite, std::string("cannot create file: ") + std::strerror(err));
    return;
  }
  if (link) {
    std::lock_guard lock(mutex_);
    link->deferredLink = false;  // replaced before it was made: not counted
  }
  job.ok = true;
  if (o_.verbose) Say(job, 0, "extracted");
}

// The link of an earlier entry of the same name that is still to be made, if any.
Job* Batch::PendingLink(const Job& job) {
  std::lock_guard lock(mutex_);
  for (size_t j = job.after; j != SIZE_MAX; j = jobs_[j]->after)
    if (jobs_[j]->deferredLink) return jobs_[j].get();
    else if (jobs_[j]->ok) return nullptr;  // a file or folder: there on disk
  return nullptr;
}

void Batch::Work() {
  EntryDecoder decoder(fd_);
  FolderCache folders(root_, folderLog_, true);
  for (;;) {
    const size_t i = next_++;
    if (i >= jobs_.size() || stop_) break;
    Job& job = *jobs_[i];
    if (job.after != SIZE_MAX && !o_.test) {
      std::unique_lock lock(mutex_);
      ++afterWaiters_;
      changed_.wait(lock, [&] { return jobs_[job.after]->finished || stop_; });
      --afterWaiters_;
    }
    Process(job, decoder, folders);
    job.finished = true;
    // Told at once only to a worker waiting for this target, and at the batch's end; the
    // reporting thread finds the others when it next looks. (Both sides order their atomics
    // sequentially: a waiter counted after this load sees `finished`.)
    if (afterWaiters_ > 0 || next_ >= jobs_.size()) {
      std::lock_guard lock(mutex_);
      changed_.notify_all();
    }
  }
}

// Reports one job as it goes: its start, its progress, a password it needs, its messages.
// False once the callback asked to stop.
bool Batch::ReportJob(Job& job) {
  const ArchiveEntry& e = dir_.entries[job.index];
  reporting_ = &job;
  reporter_.Report(kActionNewFile, 0, e.unpacked, Printable(e.name));
  uint64_t reported = 0;
  auto progress = [&] {
    const uint64_t done = job.done.load(std::memory_order_relaxed);
    while (reported < done && !reporter_.Cancelled()) {
      const uint64_t step = std::min(done - reported, kProgressStep);
      reporter_.Report(kActionProgress, 0, step);
      reported += step;
      if (!reporter_.Cancelled()) job.reported = reported;
    }
    if (reporter_.Cancelled()) {
      Cancel();
    } else {
      std::lock_guard lock(mutex_);
      if (job.waitsForReport) changed_.notify_all();
    }
  };
  std::unique_lock lock(mutex_);
  while (!job.finished && !reporter_.Cancelled()) {
    changed_.wait_for(lock, kReportPoll, [&] {
      return job.finished || job.waitsForReport || (job.wantsPassword && !job.answered);
    });
    if (job.wantsPassword && !job.answered) {
      if (!password_.empty() && password_ != job.password) {
        job.gotPassword = true, job.password = password_;  // found by an entry before it
      } else {
        lock.unlock();
        std::string answer;
        const bool got = reporter_.AskPassword(Printable(e.name), answer);
        lock.lock();
        job.gotPassword = got, job.password = answer;
      }
      job.answered = true;
      changed_.notify_all();
    }
    lock.unlock();
    progress();
    lock.lock();
  }
  lock.unlock();
  progress();
  for (const auto& [code, text] : job.messages) reporter_.Message(code, text);
  if (reporter_.Cancelled()) Cancel();
  return !reporter_.Cancelled();
}

// Stops the workers at their next step; what they have not named yet is dropped.
void Batch::Cancel() {
  if (stop_.exchange(true)) return;
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

void Batch::MakeLink(Job& job, FolderCache& folders) {
  const ArchiveEntry& e = dir_.entries[job.index];
  auto say = [&](int32_t code, const std::string& reason) {
    reporter_.Message(code, Printable(e.name) + ": " + reason);
  };
  entrypaths::FolderFailure why;
  int err = 0;
  std::string key;
  const int parent = folders.Open(job.parts, job.parts.size() - 1, key, why, err);
  if (parent < 0) {
    say(kLibErrUnsafeName, "refused: a symbolic link or a file stands on its way");
    return;
  }
  // Made under a name of its own and renamed over the old one, as files are.
  std::string temp;
  int r = -1;
  for (int i = 0; i < 100 && r != 0; ++i) {
    temp = stagedfile::TempName(".link");
    r = ::symlinkat(job.linkTarget.c_str(), parent, temp.c_str());
    if (r != 0 && errno != EEXIST) break;
  }
  if (r != 0) {
    say(errno == ENOSPC ? kLibErrDiskFull : kLibErrWrite, std::string("cannot create link: ") + std::strerror(errno));
  } else if (::renameat(parent, temp.c_str(), parent, job.parts.back().c_str()) != 0) {
    say(kLibErrWrite, std::string("cannot create link: ") + std::strerror(errno));
    ::unlinkat(parent, temp.c_str(), 0);
  } else {
    const timespec times[2] = {{time_t(e.mtime), 0}, {time_t(e.mtime), 0}};
    ::utimensat(parent, job.parts.back().c_str(), times, AT_SYMLINK_NOFOLLOW);
    job.ok = true;
    if (o_.verbose) say(0, "extracted");
  }
}

// Folder modes and times last: the files written into a folder change its time, and a
// read-only folder would refuse them. Deepest first, so a parent's time is set after its
// children's.
void Batch::FinishFolders(FolderCache& cache) {
  std::vector<Job*> folders;
  for (auto& job : jobs_) {
    const ArchiveEntry& e = dir_.entries[job->index];
    if (job->ok && e.IsDir() && !e.IsSymlink() && !job->parts.empty()) folders.push_back(job.get());
  }
  std::stable_sort(folders.begin(), folders.end(),
                   [](const Job* a, const Job* b) { return a->parts.size() > b->parts.size(); });
  for (Job* job : folders) {
    const ArchiveEntry& e = dir_.entries[job->index];
    entrypaths::FolderFailure why;
    int err = 0;
    std::string key;
    const int fd = cache.Open(job->parts, job->parts.size(), key, why, err);
    if (fd < 0) continue;
    ::fchmod(fd, filemodes::ExtractedMode(e.UnixMode(), true, umask_));
    const timespec times[2] = {{time_t(e.mtime), 0}, {time_t(e.mtime), 0}};
    ::futimens(fd, times);
  }
}

int32_t Batch::Run() {
  umask_ = filemodes::CurrentUmask();
  unnamed_ = stagedfile::StagedFile::UnnamedFiles();
  fd_ = ::open(o_.archive.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    reporter_.Message(kLibErrRead, Printable(o_.archive) + ": cannot open the archive: " + std::strerror(errno));
    reporter_.Report(kActionEndOfBatch, 0, 0);
    return 0;
  }
  std::unique_ptr<int, void (*)(int*)> fdGuard(&fd_, [](int* fd) { ::close(*fd); });
  dir_ = ReadDirectory(fd_, o_.nameCodePage);
  if (!dir_.error.empty() || dir_.entries.empty()) {
    reporter_.Message(dir_.error.empty() ? kLibErrNoMatch : kLibErrBadArchive,
                      Printable(o_.archive) + ": " + (dir_.error.empty() ? "the archive holds no entries" : dir_.error));
    reporter_.Report(kActionEndOfBatch, 0, 0);
    return 0;
  }
  if (!o_.test) {
    root_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_ < 0) {
      reporter_.Message(kLibErrWrite, std::string("cannot open the current folder: ") + std::strerror(errno));
      reporter_.Report(kActionEndOfBatch, 0, 0);
      return 0;
    }
  }
  std::unique_ptr<int, void (*)(int*)> rootGuard(&root_, [](int* fd) {
    if (*fd >= 0) ::close(*fd);
  });
  if (!Select()) return 0;
  {
    std::lock_guard lock(mutex_);
    password_ = o_.password;
  }
  uint64_t totalBytes = 0;
  for (const auto& job : jobs_) totalBytes += dir_.entries[job->index].unpacked;
  reporter_.Report(kActionTotalSize, 0, totalBytes);
  reporter_.Report(kActionTotalFiles, 0, jobs_.size());

  const size_t threads = std::clamp<size_t>(size_t(std::max(o_.threads, 1)), 1, std::max<size_t>(jobs_.size(), 1));
  if (!jobs_.empty()) reporting_ = jobs_.front().get();  // held back from the start
  std::vector<std::thread> workers;
  for (size_t t = 0; t < threads && !reporter_.Cancelled(); ++t) workers.emplace_back([this] { Work(); });
  for (auto& job : jobs_)
    if (!ReportJob(*job)) break;
  stop_ = reporter_.Cancelled();
  {
    std::lock_guard lock(mutex_);
    changed_.notify_all();  // a worker waiting for a password gives up
  }
  for (auto& w : workers) w.join();
  int32_t count = 0;
  if (reporter_.Cancelled()) {
    for (const auto& job : jobs_) count += job->ok && !job->deferredLink ? 1 : 0;
    return count;
  }

  if (!o_.test) {
    FolderCache folders(root_, folderLog_, false);
    for (auto& job : jobs_)
      if (job->deferredLink && !reporter_.Cancelled()) MakeLink(*job, folders);
    FinishFolders(folders);
  }
  for (const auto& job : jobs_) count += job->ok ? 1 : 0;
  reporter_.Report(kActionEndOfBatch, 0, 0);
  return count;
}

}  // namespace

int32_t RunBatch(const BatchOptions& options) {
  Batch batch(options);
  return batch.Run();
}

}  // namespace sluice
