#pragma once
// Compression on worker threads. Entries are cut into blocks that are deflated
// independently, each primed with the 32 KiB in front of it, so that their raw deflate
// outputs joined in order form one stream for the entry. The consumer (libzip, writing the
// archive on the calling thread) takes blocks in order; workers run at most a fixed window
// of blocks ahead, which bounds memory whatever the file sizes.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kiln {

class DeflateEngine {
 public:
  struct Entry {
    std::string path;
    uint64_t size;
  };
  struct Block {
    std::vector<uint8_t> data;  // raw deflate
    uint32_t crc = 0;           // of the uncompressed block
    uint64_t length = 0;        // uncompressed
    bool last = false;
    int error = 0;              // errno of reading the file; -1 when it shrank
  };

  // `entries` in the order they will be consumed.
  DeflateEngine(std::vector<Entry> entries, int level, unsigned threads);
  ~DeflateEngine();
  DeflateEngine(const DeflateEngine&) = delete;
  DeflateEngine& operator=(const DeflateEngine&) = delete;

  // Next block of entry `entry` (blocks of entries before it that were never asked for
  // are dropped). Waits for the workers. False when `entry` has no blocks left.
  bool Take(size_t entry, Block& out);

 private:
  struct Job {
    size_t entry;
    uint64_t offset;
    uint64_t length;
    bool last;
  };
  struct Slot {
    bool ready = false;
    Block block;
  };

  void Work();
  void Compress(const Job& job, Block& out, void* stream, std::vector<uint8_t>& input);

  std::vector<Entry> entries_;
  std::vector<Job> jobs_;
  int level_;
  size_t window_;
  std::vector<Slot> ring_;
  size_t next_ = 0;      // next job a worker takes
  size_t consumed_ = 0;  // next job the consumer takes
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable blockReady_;
  std::vector<std::thread> threads_;
};

}  // namespace kiln
