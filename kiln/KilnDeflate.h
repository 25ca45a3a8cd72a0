#pragma once
// Compression on worker threads. Each file is read once, front to back, through one
// descriptor, in blocks that the workers read strictly in turn and then compress each on its
// own. So every block is compressed and checksummed from the very bytes that were read, and
// the raw deflate outputs joined in order form one stream for the entry, whatever happens to
// the file meanwhile. The consumer
// (libzip, writing the archive on the calling thread) takes blocks in order; workers run at
// most a fixed window of blocks ahead, which bounds memory whatever the file sizes.

#include "KilnSourceFile.h"

#include <sys/stat.h>

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
    struct stat walked;  // as the walk found the file: its size fixes the blocks
  };
  struct Block {
    std::vector<uint8_t> data;  // raw deflate
    uint32_t crc = 0;           // of the uncompressed block
    uint64_t length = 0;        // uncompressed
    bool last = false;
    int error = 0;              // errno of reading the file, or kSourceChanged
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
  // Reads the bytes of `job` into `input`; the error of the file, if any.
  int Read(const Job& job, std::vector<uint8_t>& input);

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

  // The file being read; held by one worker at a time, which takes its job while holding
  // it, so that blocks are read in job order.
  std::mutex readMutex_;
  SourceFile file_;
  int fileError_ = 0;

  std::vector<std::thread> threads_;
};

}  // namespace kiln
