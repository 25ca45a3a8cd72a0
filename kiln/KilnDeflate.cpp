#include "KilnDeflate.h"

#include "KilnCompress.h"
#include "KilnSeams.h"

#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace kiln {

DeflateEngine::DeflateEngine(std::vector<Entry> entries, int level, unsigned threads)
    : entries_(std::move(entries)), level_(level) {
  for (size_t e = 0; e < entries_.size(); ++e) {
    const uint64_t size = static_cast<uint64_t>(entries_[e].walked.st_size);
    uint64_t offset = 0;
    do {
      uint64_t length = std::min<uint64_t>(kBlockSize, size - offset);
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
  BlockCompressor compressor(level_);
  if (!compressor.Usable()) {
    std::lock_guard lock(mutex_);
    stop_ = true;
    blockReady_.notify_all();
    workReady_.notify_all();
    return;
  }
  // Buffers circulate between workers, slots and the consumer instead of being freed, so
  // memory stays flat however much passes through.
  std::vector<uint8_t> input;
  Block block;
  for (;;) {
    size_t index;
    {
      std::lock_guard reading(readMutex_);
      {
        std::unique_lock lock(mutex_);
        workReady_.wait(lock, [&] { return stop_ || (next_ < jobs_.size() && next_ < consumed_ + window_); });
        if (stop_) break;
        index = next_++;
      }
      try {
        block.error = Read(jobs_[index], input);
      } catch (const std::bad_alloc&) {
        block.error = ENOMEM;
      }
    }
    const Job& job = jobs_[index];
    block.length = job.length;
    block.last = job.last;
    block.crc = 0;
    block.data.clear();
    if (block.error == 0) {
      block.crc = libdeflate_crc32(0, input.data(), job.length);
      try {
        if (!compressor.Compress(input.data(), job.length, job.last, block.data)) block.error = EIO;
      } catch (const std::bad_alloc&) {
        block.error = ENOMEM;
      }
    }
    {
      std::lock_guard lock(mutex_);
      Slot& slot = ring_[index % window_];
      std::swap(slot.block, block);
      slot.ready = true;
    }
    blockReady_.notify_all();
  }
}

int DeflateEngine::Read(const Job& job, std::vector<uint8_t>& input) {
  const Entry& entry = entries_[job.entry];
  if (job.offset == 0) fileError_ = file_.Open(entry.path, entry.walked) ? 0 : file_.Error();
  // The rest of a file that failed is not read: its entry is given up as a whole.
  if (fileError_ == 0) {
    input.resize(job.length);
    if (!file_.Read(job.offset, input.data(), job.length) || (job.last && !file_.Finish())) fileError_ = file_.Error();
    if (const auto& seams = Seams(); seams.AfterBlockRead)
      seams.AfterBlockRead(seams.Context, entry.path.c_str(), job.offset, job.length);
  }
  if (job.last) file_.Close();
  return fileError_;
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
