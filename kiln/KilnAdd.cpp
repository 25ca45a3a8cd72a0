// Adding files: walk the names and patterns given, choose what goes in, write the archive once with
// the deflate workers feeding libzip, and only then move sources away.

#include "KilnArchive.h"
#include "KilnCopyEntries.h"
#include "KilnDeflate.h"
#include "KilnEntrySource.h"
#include "KilnFileState.h"
#include "KilnReporter.h"
#include "KilnSourceFile.h"
#include "KilnTypes.h"
#include "KilnWalk.h"

#include <ZipRecords.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <unordered_map>

namespace kiln {

namespace {

constexpr zip_uint16_t kExtendedTimestamp = 0x5455;

bool IsDeflated(const AddItem& item, int level) {
  return item.kind == AddItem::Kind::File && item.st.st_size > 0 && level > 0;
}

int64_t DataSize(const AddItem& item) {
  if (item.kind == AddItem::Kind::File) return item.st.st_size;
  if (item.kind == AddItem::Kind::Link) return static_cast<int64_t>(item.target.size());
  return 0;
}

// Attributes, time and encryption of a freshly added entry.
bool DescribeEntry(zip_t* za, zip_uint64_t idx, const AddItem& item, bool deflated, int level,
                   const std::string& password) {
  if (zip_set_file_compression(za, idx, deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                               deflated ? static_cast<zip_uint32_t>(level) : 0) != 0)
    return false;
  if (zip_file_set_mtime(za, idx, item.st.st_mtime, 0) != 0) return false;
  zip_uint32_t mode = item.st.st_mode & 0177777;
  if (zip_file_set_external_attributes(za, idx, 0, ZIP_OPSYS_UNIX, mode << 16) != 0) return false;
  // A replaced entry must not keep the old file's exact time.
  zip_file_extra_field_delete_by_id(za, idx, kExtendedTimestamp, ZIP_EXTRA_FIELD_ALL,
                                    ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
  if (item.st.st_mtime >= 0 && item.st.st_mtime <= INT32_MAX) {
    zip_uint8_t ut[5] = {1};  // flags: modification time only
    PutLE32(ut + 1, static_cast<uint32_t>(item.st.st_mtime));
    if (zip_file_extra_field_set(za, idx, kExtendedTimestamp, ZIP_EXTRA_FIELD_NEW, ut, sizeof ut,
                                 ZIP_FL_LOCAL | ZIP_FL_CENTRAL) != 0)
      return false;
  }
  if (!password.empty() && item.kind != AddItem::Kind::Dir &&
      zip_file_set_encryption(za, idx, ZIP_EM_TRAD_PKWARE, password.c_str()) != 0)
    return false;
  return true;
}

std::string ReadFailure(const AddItem& item, int error) {
  if (error == kSourceChanged) return item.path + ": changed while it was read, not added";
  return item.path + ": " + std::strerror(error) + ", not added";
}

// Moving: a source goes only while it is still the file that was added.
void RemoveSources(const std::vector<AddItem>& items, const std::vector<size_t>& done, Reporter& reporter) {
  for (size_t i : done) {
    const AddItem& item = items[i];
    if (item.kind == AddItem::Kind::Dir) continue;
    struct stat now;
    if (lstat(item.path.c_str(), &now) == 0 && !SameFileState(now, item.st))
      reporter.Message(kLibErrWrite, item.path + ": changed after it was added, not removed");
    else if (unlink(item.path.c_str()) != 0)
      reporter.Message(kLibErrWrite, item.path + ": not removed after adding: " + std::strerror(errno));
  }
  for (auto it = done.rbegin(); it != done.rend(); ++it)
    if (items[*it].kind == AddItem::Kind::Dir) rmdir(items[*it].path.c_str());  // kept when not empty
}

}  // namespace

int RunAdd(const Request& request, Reporter& reporter) {
  const std::string& path = request.archivePath;
  const int level = std::clamp(request.level, 0, 9);
  struct stat archiveStat {};
  if (stat(path.c_str(), &archiveStat) == 0 && !S_ISREG(archiveStat.st_mode)) {
    reporter.Message(kLibErrWrite, path + ": not a regular file");
    return 0;
  }
  if (request.specs.empty()) {
    reporter.Message(kLibErrNoMatch, path + ": no files to add");
    return 0;
  }

  std::vector<AddItem> items = WalkSpecs(request, reporter, archiveStat);

  HeldArchive held;
  if (!held.Take(path, true, reporter)) return 0;
  ArchiveFileInfo& info = held.info;
  zip_t* za = OpenArchive(path, info, true, !request.append, reporter);
  if (!za) return 0;

  // Entries by the names the component shows, so that a file replaces the entry of its name
  // whatever code page the entry's name is stored in.
  std::unordered_map<std::string, zip_int64_t> entryIndex;
  {
    const std::vector<std::string> shown = ShownNames(za, request.nameCodePage);
    for (size_t i = 0; i < shown.size(); ++i) entryIndex.emplace(shown[i], static_cast<zip_int64_t>(i));
  }
  const auto locate = [&](const std::string& name) -> zip_int64_t {
    const auto it = entryIndex.find(name);
    return it == entryIndex.end() ? zip_name_locate(za, name.c_str(), 0) : it->second;
  };

  // What actually goes in, by the update rules.
  std::vector<size_t> chosen;
  int64_t totalBytes = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const AddItem& item = items[i];
    zip_int64_t idx = locate(item.name);
    if (item.kind == AddItem::Kind::Dir && idx >= 0) continue;
    if (request.freshen && idx < 0) continue;
    if ((request.update || request.freshen) && idx >= 0) {
      zip_stat_t st;
      if (zip_stat_index(za, static_cast<zip_uint64_t>(idx), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME) &&
          DosRounded(item.st.st_mtime) <= st.mtime)
        continue;
    }
    chosen.push_back(i);
    totalBytes += DataSize(item);
  }

  if (!reporter.TotalSize(totalBytes) || !reporter.TotalFiles(static_cast<int64_t>(chosen.size())) ||
      !reporter.FlushDeferred()) {
    zip_discard(za);
    return 0;
  }
  if (chosen.empty()) {
    zip_discard(za);
    reporter.EndOfBatch();
    return 0;
  }

  std::string password;
  if (request.encrypt) {
    password = request.password;
    const std::string& first = items[chosen.front()].name;
    if (password.empty() && !reporter.AskPassword(first, password)) {
      reporter.Message(kLibErrPassword, first + ": no password given, nothing added");
      zip_discard(za);
      return 0;
    }
  }

  // Bounded so that the blocks in flight stay small on machines with many cores.
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
  std::set<size_t> excluded;
  std::vector<size_t> engineIndex(items.size(), 0);
  // The entries that stay are copied as they are where the layout allows; libzip then writes
  // only the new ones (into `target`), and `za` only reads.
  CopyEntries copier;
  const bool byCopy = request.append && info.fd >= 0 && copier.Plan(path, info.fd, LibzipNames(za));
  for (;;) {
    if (!za && !(za = OpenArchive(path, info, true, !request.append, reporter))) return 0;
    zip_t* target = za;
    if (byCopy && !(target = copier.BeginAdd(info, reporter))) {
      zip_discard(za);
      return 0;
    }
    // Discards what this pass wrote, and the archive read when it is not the one written.
    const auto discard = [&]() {
      zip_discard(target);
      if (target != za) zip_discard(za);
    };

    std::set<size_t> replaced;
    std::vector<long> placeOf;  // by index in `target`: the entry replaced, -1 for none, -2 when not added
    time_t newest = 0;
    std::vector<std::pair<zip_uint64_t, size_t>> deflatedOrder;  // (libzip index, item)
    AddPass pass{reporter};
    size_t added = 0;
    for (size_t i : chosen) {
      if (excluded.count(i)) continue;
      const AddItem& item = items[i];
      bool deflated = IsDeflated(item, level);
      zip_source_t* src = MakeEntrySource(target, pass, item, i, deflated, &engineIndex[i]);
      zip_int64_t before = locate(item.name);
      zip_int64_t idx = -1;
      if (src && target != za) {
        idx = zip_file_add(target, item.name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
      } else if (src && before >= 0 && zip_name_locate(za, item.name.c_str(), 0) != before) {
        // Stored under another spelling of the name: the new entry takes its place, under
        // the new name.
        const auto at = static_cast<zip_uint64_t>(before);
        if (zip_file_replace(za, at, src, 0) == 0) {
          idx = before;  // the source is libzip's now
          zip_file_rename(za, at, item.name.c_str(), ZIP_FL_ENC_GUESS);  // else the old spelling stays
        }
      } else if (src) {
        idx = zip_file_add(za, item.name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
      }
      if (idx < 0) {
        if (src) zip_source_free(src);
        reporter.Message(kLibErrWrite, item.name + ": " + zip_strerror(target) + ", not added");
        excluded.insert(i);
        continue;
      }
      const auto at = static_cast<size_t>(idx);
      if (placeOf.size() <= at) placeOf.resize(at + 1, -2);
      if (!DescribeEntry(target, static_cast<zip_uint64_t>(idx), item, deflated, level, password)) {
        reporter.Message(kLibErrWrite, item.name + ": " + zip_strerror(target) + ", not added");
        zip_delete(target, static_cast<zip_uint64_t>(idx));
        placeOf[at] = -2;
        excluded.insert(i);
        continue;
      }
      placeOf[at] = before;
      if (before >= 0) replaced.insert(static_cast<size_t>(before));
      if (deflated) deflatedOrder.emplace_back(static_cast<zip_uint64_t>(idx), i);
      newest = std::max(newest, item.st.st_mtime);
      ++added;
    }
    if (reporter.Cancelled()) {
      discard();
      return 0;
    }
    if (added == 0) {
      discard();
      reporter.EndOfBatch();
      return 0;
    }
    if (request.zipTime) {
      zip_int64_t n = zip_get_num_entries(za, ZIP_FL_UNCHANGED);
      for (zip_int64_t e = 0; e < n; ++e) {
        zip_stat_t st;
        if (!replaced.count(static_cast<size_t>(e)) &&
            zip_stat_index(za, static_cast<zip_uint64_t>(e), ZIP_FL_UNCHANGED, &st) == 0 &&
            (st.valid & ZIP_STAT_MTIME))
          newest = std::max(newest, st.mtime);
      }
    }

    // libzip writes entries in index order: the workers must run in that order too.
    std::sort(deflatedOrder.begin(), deflatedOrder.end());
    std::vector<DeflateEngine::Entry> work;
    for (auto& [idx, i] : deflatedOrder) {
      engineIndex[i] = work.size();
      work.push_back({items[i].path, items[i].st});
    }
    auto engine = std::make_unique<DeflateEngine>(std::move(work), level, threads);
    pass.engine = engine.get();

    std::vector<long> places;  // of the entries libzip writes, in its order
    for (long place : placeOf)
      if (place != -2) places.push_back(place);
    if (target != za) {
      std::vector<bool> dropped(static_cast<size_t>(std::max<zip_int64_t>(zip_get_num_entries(za, 0), 0)), false);
      for (long place : places)
        if (place >= 0 && static_cast<size_t>(place) < dropped.size()) dropped[static_cast<size_t>(place)] = true;
      if (!copier.CopyKept(dropped, reporter)) {
        discard();
        return 0;
      }
    }
    WatchClose(target, reporter);
    int rc = zip_close(target);
    engine.reset();
    if (rc == 0 && target != za) {
      zip_discard(za);
      if (!copier.FinishAdd(places, reporter)) return 0;
    }
    if (rc == 0) {
      std::vector<size_t> done;
      for (size_t i : chosen)
        if (!excluded.count(i)) done.push_back(i);
      if (request.verbose)
        for (size_t i : done) reporter.Message(0, items[i].name + ": added");
      if (request.move) RemoveSources(items, done, reporter);
      if (request.zipTime && newest > 0) SetArchiveTime(path, newest);
      reporter.EndOfBatch();
      return static_cast<int>(done.size());
    }

    if (pass.cancelled || reporter.Cancelled()) {
      discard();
      return 0;
    }
    const ArchiveFileInfo& written = target != za ? copier.Info() : info;
    if (pass.failedItem < 0 || written.replaced) {
      ReportCloseError(target, path, written, reporter);
      discard();
      return 0;
    }
    // A source went missing or unreadable: report it and write again without it.
    size_t failed = static_cast<size_t>(pass.failedItem);
    zip_discard(target);
    if (target == za) za = nullptr;
    if (!reporter.Message(kLibErrRead, ReadFailure(items[failed], pass.failedError))) return 0;
    excluded.insert(failed);
  }
}

}  // namespace kiln
