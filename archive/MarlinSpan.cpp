// Records and copying shared by the span writer and the span reader.

#include "MarlinSpan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ZipRecords.h"

namespace {

bool Before(const SpanRecord& r, std::pair<uint16_t, uint32_t> key) {
  return std::pair(r.SourceDisk, r.SourceOffset) < key;
}

}  // namespace

void SpanRecords::Add(uint16_t disk, uint32_t offset, uint32_t packedSize, uint32_t crc) {
  SpanRecord r;
  r.SourceDisk = disk;
  r.SourceOffset = offset;
  r.PackedSize = packedSize;
  r.Crc32 = crc;
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

void SpanInput::Attach(FileHandle& f) {
  f_ = &f;
  if (buf_.size() != kBufferSize) buf_.resize(kBufferSize);
  begin_ = end_ = 0;
  filePos_ = std::max<int64_t>(0, f.Position());
  size_ = std::max<int64_t>(0, f.Size());
}

int64_t SpanInput::Fill() {
  begin_ = end_ = 0;
  const int64_t n = f_->Read(buf_.data(), buf_.size());
  if (n < 0) return -1;
  end_ = size_t(n);
  filePos_ += n;
  return n;
}

int64_t SpanInput::Read(void* out, size_t n) {
  auto* p = static_cast<char*>(out);
  size_t done = 0;
  while (done < n) {
    if (begin_ == end_) {
      // Large reads bypass the buffer.
      if (n - done >= buf_.size()) {
        const int64_t got = f_->Read(p + done, n - done);
        if (got < 0) return done > 0 ? int64_t(done) : -1;
        filePos_ += got;
        done += size_t(got);
        break;
      }
      const int64_t got = Fill();
      if (got < 0) return done > 0 ? int64_t(done) : -1;
      if (got == 0) break;
    }
    const size_t take = std::min(n - done, end_ - begin_);
    std::memcpy(p + done, buf_.data() + begin_, take);
    begin_ += take;
    done += take;
  }
  return int64_t(done);
}

bool SpanInput::Seek(int64_t pos) {
  if (pos < 0) return false;
  // Within the buffer no system call is needed.
  const int64_t bufferStart = filePos_ - int64_t(end_);
  if (pos >= bufferStart && pos <= filePos_) {
    begin_ = size_t(pos - bufferStart);
    return true;
  }
  if (f_->Seek(pos, SEEK_SET) != pos) return false;
  begin_ = end_ = 0;
  filePos_ = pos;
  return true;
}

void SpanOutput::Attach(FileHandle& f) {
  f_ = &f;
  buf_.clear();
  buf_.reserve(kBufferSize);
}

bool SpanOutput::Write(const void* p, size_t n) {
  if (buf_.size() + n > kBufferSize && !Flush()) return false;
  if (n >= kBufferSize) return f_->Write(p, n) == int64_t(n);
  buf_.append(static_cast<const char*>(p), n);
  return true;
}

bool SpanOutput::Flush() {
  if (buf_.empty()) return true;
  const bool ok = f_ && f_->Write(buf_.data(), buf_.size()) == int64_t(buf_.size());
  buf_.clear();
  return ok;
}

namespace span {

CopyResult CopyBytes(SpanInput& in, SpanOutput& out, int64_t count, SpanCall& call) {
  // Runs shorter than this are cheaper through the buffers than as a system call of their own.
  constexpr int64_t kDirectCopy = 64 * 1024;
  while (count > 0) {
    if (in.Buffered() > 0) {
      const size_t n = size_t(std::min<int64_t>(count, int64_t(in.Buffered())));
      if (!out.Write(in.Peek(), n)) return CopyResult::WriteFailed;
      in.Consume(n);
      count -= int64_t(n);
      continue;
    }
    if (count >= kDirectCopy) {
      if (!out.Flush()) return CopyResult::WriteFailed;
      if (call.KernelCopy) {
        const ssize_t n = ::copy_file_range(in.File().Fd(), nullptr, out.File().Fd(), nullptr, size_t(count), 0);
        if (n > 0) {
          in.Advanced(n);
          count -= n;
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // Unsupported between these files, or a pseudo file that reports 0: the buffer
        // path below tells a real end of file from that, and a read from a write error.
        call.KernelCopy = false;
      }
    }
    const int64_t got = in.Fill();
    if (got <= 0) return CopyResult::ShortRead;
  }
  return CopyResult::Ok;
}

bool HasZip64Extra(const uint8_t* extra, size_t length) {
  for (size_t pos = 0; pos + 4 <= length;) {
    if (GetLE16(extra + pos) == 0x0001) return true;
    pos += 4 + size_t(GetLE16(extra + pos + 2));
  }
  return false;
}

size_t DataDescriptorLength(const uint8_t* p, size_t available, uint32_t crc) {
  // The signature is optional; a CRC that happens to equal it is told apart by what follows.
  if (available >= 16 && GetLE32(p) == zipsig::DataDescriptor && GetLE32(p + 4) == crc) return 16;
  if (GetLE32(p) == crc) return 12;
  if (available >= 16 && GetLE32(p) == zipsig::DataDescriptor) return 16;
  return 0;
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
