#include "KilnEntrySource.h"

#include "KilnDeflate.h"
#include "KilnReporter.h"
#include "KilnSeams.h"
#include "KilnSourceFile.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kiln {

namespace {

constexpr int64_t kReportEvery = 1 << 20;

struct EntrySource {
  AddPass* pass;
  const AddItem* item;
  size_t itemIndex;
  bool deflated;
  const size_t* engineIndex;

  zip_error_t error{};
  SourceFile file;        // a stored file's, read here
  uint64_t done = 0;      // uncompressed bytes handed over
  uint32_t crc = 0;
  bool finished = false;  // every block taken, or a stored file checked at its end
  DeflateEngine::Block block;
  size_t blockPos = 0;
  int64_t unreported = 0;

  uint64_t Size() const {
    if (item->kind == AddItem::Kind::Link) return item->target.size();
    if (item->kind == AddItem::Kind::Dir) return 0;
    return static_cast<uint64_t>(item->st.st_size);
  }

  int64_t Fail(int zipError, int sysError) {
    zip_error_set(&error, zipError, sysError);
    return -1;
  }

  int64_t FileFailed(int err) {
    if (pass->failedItem < 0) {
      pass->failedItem = static_cast<long>(itemIndex);
      pass->failedError = err;
    }
    return Fail(ZIP_ER_READ, err > 0 ? err : 0);
  }

  bool Report(int64_t bytes, bool flush) {
    unreported += bytes;
    if (unreported >= kReportEvery || (flush && unreported > 0)) {
      int64_t n = unreported;
      unreported = 0;
      if (!pass->reporter.Progress(n)) {
        pass->cancelled = true;
        return false;
      }
    }
    return true;
  }

  int64_t Open() {
    done = 0;
    crc = 0;
    finished = false;
    blockPos = 0;
    block = {};
    unreported = 0;
    if (!pass->reporter.NewFile(item->name, static_cast<int64_t>(Size()))) {
      pass->cancelled = true;
      return Fail(ZIP_ER_CANCELLED, 0);
    }
    if (item->kind == AddItem::Kind::File && !deflated && !file.Open(item->path, item->st))
      return FileFailed(file.Error());
    return 0;
  }

  int64_t Read(uint8_t* out, uint64_t want) {
    if (item->kind == AddItem::Kind::Dir) return 0;
    if (item->kind == AddItem::Kind::Link) {
      uint64_t n = std::min<uint64_t>(want, item->target.size() - done);
      std::memcpy(out, item->target.data() + done, n);
      done += n;
      if (!Report(static_cast<int64_t>(n), done == item->target.size())) return Fail(ZIP_ER_CANCELLED, 0);
      return static_cast<int64_t>(n);
    }
    if (!deflated) return ReadPlain(out, want);
    uint64_t given = 0;
    while (given < want) {
      if (blockPos == block.data.size()) {
        if (finished) break;
        if (!pass->engine->Take(*engineIndex, block)) return FileFailed(EIO);
        blockPos = 0;
        if (block.error) return FileFailed(block.error);
        crc = static_cast<uint32_t>(crc32_combine(crc, block.crc, static_cast<z_off_t>(block.length)));
        done += block.length;
        finished = block.last;
        if (!Report(static_cast<int64_t>(block.length), finished)) return Fail(ZIP_ER_CANCELLED, 0);
        continue;
      }
      uint64_t n = std::min<uint64_t>(want - given, block.data.size() - blockPos);
      std::memcpy(out + given, block.data.data() + blockPos, n);
      blockPos += n;
      given += n;
    }
    return static_cast<int64_t>(given);
  }

  // Stored data is the bytes read, so it always matches its CRC; a file that changed
  // meanwhile is still given up, as a deflated one is.
  int64_t ReadPlain(uint8_t* out, uint64_t want) {
    want = std::min(want, Size() - done);
    if (want == 0) {
      if (finished) return 0;
      if (!file.Finish()) return FileFailed(file.Error());
      finished = true;
      return 0;
    }
    if (!file.Read(done, out, want)) return FileFailed(file.Error());
    if (const auto& seams = Seams(); seams.AfterBlockRead)
      seams.AfterBlockRead(seams.Context, item->path.c_str(), done, want);
    crc = libdeflate_crc32(crc, out, want);
    done += want;
    if (!Report(static_cast<int64_t>(want), done == Size())) return Fail(ZIP_ER_CANCELLED, 0);
    return static_cast<int64_t>(want);
  }

  void Stat(zip_stat_t* st) const {
    zip_stat_init(st);
    st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    st->size = Size();
    st->mtime = item->st.st_mtime;
    st->comp_method = deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
    st->crc = crc;
  }
};

zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<EntrySource*>(userdata);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      return s->Open();
    case ZIP_SOURCE_READ:
      return s->Read(static_cast<uint8_t*>(data), len);
    case ZIP_SOURCE_CLOSE:
      s->file.Close();
      // Sources live until the archive is written: keep no buffers past the entry.
      s->block = DeflateEngine::Block{};
      return 0;
    case ZIP_SOURCE_STAT:
      if (len < sizeof(zip_stat_t)) return s->Fail(ZIP_ER_INVAL, 0);
      s->Stat(static_cast<zip_stat_t*>(data));
      return sizeof(zip_stat_t);
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
      zip_error_fini(&s->error);
      delete s;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      return s->Fail(ZIP_ER_OPNOTSUPP, 0);
  }
}

}  // namespace

zip_source_t* MakeEntrySource(zip_t* archive, AddPass& pass, const AddItem& item, size_t itemIndex,
                              bool deflated, const size_t* engineIndex) {
  auto* s = new EntrySource;
  s->pass = &pass;
  s->item = &item;
  s->itemIndex = itemIndex;
  s->deflated = deflated;
  s->engineIndex = engineIndex;
  zip_error_init(&s->error);
  zip_source_t* src = zip_source_function(archive, Callback, s);
  if (!src) {
    zip_error_fini(&s->error);
    delete s;
  }
  return src;
}

}  // namespace kiln
