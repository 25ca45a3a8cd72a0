// Deleting entries: the names given are entry names or patterns matched against stored names.
// "*" and "?" match "/" too, so "dir/*" covers everything below dir and "*.txt" every
// .txt entry in every folder (and "dir/*" the entry "dir/" itself); a folder name alone
// matches only the folder's own entry.

#include "KilnArchive.h"
#include "KilnCopyEntries.h"
#include "KilnNames.h"
#include "KilnReporter.h"
#include "KilnTypes.h"

#include <zip.h>

#include <algorithm>
#include <vector>

namespace kiln {

namespace {

std::string Normalized(std::string spec) {
  while (spec.rfind("./", 0) == 0) spec.erase(0, 2);
  while (!spec.empty() && spec[0] == '/') spec.erase(0, 1);
  return spec;
}

bool Matches(const std::string& spec, const std::string& name) {
  if (MatchPattern(spec, name, true)) return true;
  // "dir" names the folder entry "dir/".
  return name.size() > 1 && name.back() == '/' && MatchPattern(spec, name.substr(0, name.size() - 1), true);
}

}  // namespace

int RunDelete(const Request& request, Reporter& reporter) {
  const std::string& path = request.archivePath;
  if (request.specs.empty()) {
    reporter.Message(kLibErrNoMatch, path + ": no entries named for deletion");
    return 0;
  }
  HeldArchive held;
  if (!held.Take(path, false, reporter)) return 0;
  zip_t* za = OpenArchive(path, held.info, false, false, reporter);
  if (!za) return 0;

  const std::vector<std::string> names = LibzipNames(za);
  // The names as the component showed them, which the specifications use.
  const std::vector<std::string> shown = ShownNames(za, request.nameCodePage);
  std::vector<bool> marked(names.size(), false);
  for (const auto& raw : request.specs) {
    std::string spec = Normalized(raw);
    bool any = false;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string& name = shown[i];
      if (Matches(spec, name)) {
        marked[i] = true;
        any = true;
      }
    }
    if (!any) reporter.Defer(kLibErrNoMatch, raw + ": no entry matches");
  }

  int64_t totalBytes = 0, totalCount = 0;
  time_t newest = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    // Each stat converts a DOS time (a time-zone lookup): only where the result is used.
    if (!marked[i] && !request.zipTime) continue;
    zip_stat_t st;
    bool haveStat = zip_stat_index(za, i, 0, &st) == 0;
    if (marked[i]) {
      ++totalCount;
      if (haveStat && (st.valid & ZIP_STAT_SIZE)) totalBytes += static_cast<int64_t>(st.size);
    } else if (haveStat && (st.valid & ZIP_STAT_MTIME)) {
      newest = std::max(newest, st.mtime);
    }
  }
  if (!reporter.TotalSize(totalBytes) || !reporter.TotalFiles(totalCount) || !reporter.FlushDeferred()) {
    zip_discard(za);
    return 0;
  }
  if (totalCount == 0) {
    zip_discard(za);
    reporter.EndOfBatch();
    return 0;
  }
  // Copying the kept bytes ourselves is much cheaper than libzip's rewrite when the layout allows it.
  CopyEntries copy;
  const bool byCopy = copy.Plan(path, held.info.fd, names);
  for (size_t i = 0; i < names.size(); ++i) {
    if (!marked[i]) continue;
    zip_stat_t st;
    int64_t size = zip_stat_index(za, i, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) ? static_cast<int64_t>(st.size) : 0;
    if (!reporter.NewFile(shown[i], size) || !reporter.Progress(size)) {
      zip_discard(za);
      return 0;
    }
    if (!byCopy) zip_delete(za, i);
    if (request.verbose) reporter.Message(0, shown[i] + ": deleted");
  }
  if (byCopy) {
    zip_discard(za);
    if (!copy.Delete(held.info, marked, reporter)) return 0;
    if (request.zipTime && newest > 0) SetArchiveTime(path, newest);
    reporter.EndOfBatch();
    return static_cast<int>(totalCount);
  }
  WatchClose(za, reporter);
  if (zip_close(za) != 0) {
    if (reporter.Cancelled()) {
      zip_discard(za);
      return 0;
    }
    ReportCloseError(za, path, held.info, reporter);
    zip_discard(za);
    return 0;
  }
  if (request.zipTime && newest > 0) SetArchiveTime(path, newest);
  reporter.EndOfBatch();
  return static_cast<int>(totalCount);
}

}  // namespace kiln
