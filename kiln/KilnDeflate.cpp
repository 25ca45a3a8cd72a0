#include "KilnDeflate.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "FileIo.h"

namespace kiln {
using fileio::ReadAt;

namespace {
constexpr uint64_t kBlockSize = 256 * 1024;
constexpr uint64_t kDictionary = 32 * 1024;

struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

DeflateEngine::DeflateEngine(std::vector<Entry> entries, int level, unsigned threads)
    : entries_(std::move(entries)), level_(level) {
  for (size_t e = 0; e < entries_.size(); ++e) {
    uint64_t size = entries_[e].size;
    uint64_t offset = 0;
    do {
      uint64_t length = std::min(kBlockSize, size - offset);
      jobs_.push_back({e, offset, length, offset + length >= size});
      offset += length;
    } while (offset < size);
  }
  threads = std::max(1u, threads);
  window_ = std::max<size_t>(8, 4 * threads);
  ring_.resize(window_);
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

DeflateEngine::~DeflateEngine() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  workReady_.notify_all();
  for (auto& t : threads_) t.join();
}

void DeflateEngine::Work() {
  z_stream stream{};
  if (deflateInit2(&stream, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::lock_guard lock(mutex_);
    stop_ = true;
    blockReady_.notify_all();
    return;
  }
  // Buffers circulate between workers, slots and the consumer instead of being freed, so
  // memory stays flat however much passes through.
  std::vector<uint8_t> input;
  Block block;
  for (;;) {
    size_t index;
    {
      std::unique_lock lock(mutex_);
      workReady_.wait(lock, [&] { return stop_ || (next_ < jobs_.size() && next_ < consumed_ + window_); });
      if (stop_) break;
      index = next_++;
    }
    try {
      Compress(jobs_[index], block, &stream, input);
    } catch (const std::bad_alloc&) {
      block.error = ENOMEM;
    }
    {
      std::lock_guard lock(mutex_);
      Slot& slot = ring_[index % window_];
      std::swap(slot.block, block);
      slot.ready = true;
    }
    blockReady_.notify_all();
  }
  deflateEnd(&stream);
}

void DeflateEngine::Compress(const Job& job, Block& out, void* streamPtr, std::vector<uint8_t>& input) {
  auto& stream = *static_cast<z_stream*>(streamPtr);
  out.length = job.length;
  out.last = job.last;
  out.error = 0;
  out.crc = 0;
  out.data.clear();
  FileCloser file{open(entries_[job.entry].path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
  if (file.fd < 0) {
    out.error = errno ? errno : EIO;
    return;
  }
  uint64_t dict = std::min(kDictionary, job.offset);
  input.resize(dict + job.length);
  if (!ReadAt(file.fd, job.offset - dict, input.data(), input.size())) {
    out.error = errno ? errno : -1;
    return;
  }
  out.crc = static_cast<uint32_t>(crc32(0, input.data() + dict, static_cast<uInt>(job.length)));
  deflateReset(&stream);
  if (dict > 0) deflateSetDictionary(&stream, input.data(), static_cast<uInt>(dict));
  out.data.resize(deflateBound(&stream, job.length) + 16);
  stream.next_in = input.data() + dict;
  stream.avail_in = static_cast<uInt>(job.length);
  size_t produced = 0;
  int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    stream.next_out = out.data.data() + produced;
    stream.avail_out = static_cast<uInt>(out.data.size() - produced);
    int rc = deflate(&stream, flush);
    produced = out.data.size() - stream.avail_out;
    if (rc == Z_STREAM_END || (flush == Z_SYNC_FLUSH && stream.avail_in == 0 && stream.avail_out > 0)) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      out.error = EIO;
      return;
    }
    out.data.resize(out.data.size() * 2);
  }
  out.data.resize(produced);
}

bool DeflateEngine::Take(size_t entry, Block& out) {
  std::unique_lock lock(mutex_);
  // Drop blocks of entries that were passed over.
  while (consumed_ < jobs_.size() && jobs_[consumed_].entry < entry) {
    blockReady_.wait(lock, [&] { return stop_ || ring_[consumed_ % window_].ready; });
    if (stop_) return false;
    ring_[consumed_ % window_].ready = false;
    ++consumed_;
    workReady_.notify_all();
  }
  if (consumed_ >= jobs_.size() || jobs_[consumed_].entry != entry) return false;
  blockReady_.wait(lock, [&] { return stop_ || ring_[consumed_ % window_].ready; });
  if (stop_) return false;
  Slot& slot = ring_[consumed_ % window_];
  std::swap(out, slot.block);
  slot.ready = false;
  ++consumed_;
  lock.unlock();
  workReady_.notify_all();
  return true;
}

}  // namespace kiln
