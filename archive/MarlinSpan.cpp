// Records and copying shared by the span writer and the span reader.

#include "MarlinSpan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "ZipRecords.h"

namespace {

bool Before(const SpanRecord& r, std::pair<uint16_t, uint32_t> key) {
  return std::pair(r.SourceDisk, r.SourceOffset) < key;
}

}  // namespace

void SpanRecords::Add(uint16_t disk, uint32_t offset, uint32_t packedSize) {
  SpanRecord r;
  r.SourceDisk = disk;
  r.SourceOffset = offset;
  r.PackedSize = packedSize;
  records_.push_back(r);
}

void SpanRecords::Seal() {
  std::stable_sort(records_.begin(), records_.end(), [](const SpanRecord& a, const SpanRecord& b) {
    return std::pair(a.SourceDisk, a.SourceOffset) < std::pair(b.SourceDisk, b.SourceOffset);
  });
}

std::pair<SpanRecord*, SpanRecord*> SpanRecords::FindSpanRecord(uint16_t disk, uint32_t offset) {
  const auto key = std::pair(disk, offset);
  auto first = std::lower_bound(records_.begin(), records_.end(), key, Before);
  auto last = first;
  while (last != records_.end() && last->SourceDisk == disk && last->SourceOffset == offset) ++last;
  return {records_.data() + (first - records_.begin()), records_.data() + (last - records_.begin())};
}

namespace span {

CopyResult CopyBytes(FileHandle& in, FileHandle& out, int64_t count, SpanCall& call) {
  while (count > 0) {
    if (call.KernelCopy) {
      const ssize_t n = ::copy_file_range(in.Fd(), nullptr, out.Fd(), nullptr, size_t(count), 0);
      if (n > 0) {
        count -= n;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // Unsupported between these files, or a pseudo file that reports 0: the buffer
      // path below tells a real end of file from that, and a read from a write error.
      call.KernelCopy = false;
    }
    const size_t step = size_t(std::min<int64_t>(count, int64_t(call.Buffer.size())));
    const int64_t got = in.Read(call.Buffer.data(), step);
    if (got <= 0) return CopyResult::ShortRead;
    if (out.Write(call.Buffer.data(), size_t(got)) != got) return CopyResult::WriteFailed;
    count -= got;
    if (size_t(got) < step) return CopyResult::ShortRead;
  }
  return CopyResult::Ok;
}

bool IsHardDisk(DriveKind kind) { return kind == DriveKind::Fixed || kind == DriveKind::Remote; }

std::string AbsolutePath(const std::string& name) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(name, ec);
  return ec ? name : p.lexically_normal().string();
}

timespec FileTime(const FileHandle& f) {
  struct stat st {};
  if (::fstat(f.Fd(), &st) != 0) return {};
  return st.st_mtim;
}

void StampFileTime(const FileHandle& f, const timespec& t) {
  if (!f.IsOpen() || (t.tv_sec == 0 && t.tv_nsec == 0)) return;
  const timespec times[2] = {{0, UTIME_OMIT}, t};
  ::futimens(f.Fd(), times);
}

uint32_t DosFileTime(const timespec& t) {
  const time_t seconds = t.tv_sec;
  tm local {};
  if (!::localtime_r(&seconds, &local)) return 0;
  DosDateTime d;
  d.Year = local.tm_year + 1900;
  d.Month = local.tm_mon + 1;
  d.Day = local.tm_mday;
  d.Hour = local.tm_hour;
  d.Minute = local.tm_min;
  d.Second = local.tm_sec;
  return d.Packed();
}

}  // namespace span
