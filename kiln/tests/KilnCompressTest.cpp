// The encoder on its own: blocks compressed apart and joined into one raw deflate stream,
// read back by zlib.

#include "KilnCompress.h"
#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

using namespace kilntest;

namespace {

using Bytes = std::vector<uint8_t>;

// The stream inflated; "damaged" when it is not exactly one complete raw deflate stream of at
// most `size` bytes.
std::string Inflate(const Bytes& stream, size_t size) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) return "damaged";
  std::string out(size + 1, '\0');
  s.next_in = const_cast<Bytef*>(stream.data());
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  const bool whole = inflate(&s, Z_FINISH) == Z_STREAM_END && s.avail_in == 0;
  out.resize(s.total_out);
  inflateEnd(&s);
  return whole ? out : "damaged";
}

bool Compress(kiln::BlockCompressor& compressor, const std::string& data, bool last, Bytes& out) {
  return compressor.Compress(reinterpret_cast<const uint8_t*>(data.data()), data.size(), last, out);
}

// A block's final deflate block may end at any bit of its last byte, and the empty stored
// block that continues the stream then fits in that byte or spills into one more: each case
// must give one stream.
TEST(KilnCompress, BlocksJoinIntoOneStreamWhereverTheFinalBlockEnds) {
  kiln::BlockCompressor compressor(6);
  ASSERT_TRUE(compressor.Usable());
  std::set<uint64_t> endBits;
  Bytes out, stream;
  for (unsigned seed = 0; seed < 200; ++seed) {
    const size_t size = 1 + (seed * 7919) % 20000;
    const std::string first = seed % 10 == 9 ? RandomBytes(size, seed) : TextBytes(size, seed);
    const std::string second = TextBytes(3000 + seed, seed + 1000);
    ASSERT_TRUE(Compress(compressor, first, true, out));
    kiln::FinalBlock final;
    ASSERT_TRUE(compressor.FindFinalBlock(out.data(), out.size(), final));
    EXPECT_LT(final.start, final.end);
    endBits.insert(final.end % 8);

    ASSERT_TRUE(Compress(compressor, first, false, stream));
    ASSERT_TRUE(Compress(compressor, second, true, out));
    stream.insert(stream.end(), out.begin(), out.end());
    ASSERT_EQ(Inflate(stream, first.size() + second.size()), first + second) << "size " << size;
  }
  EXPECT_EQ(endBits.size(), 8u);
}

TEST(KilnCompress, FinalBlockIsNotFoundInDamagedOrLongerStreams) {
  kiln::BlockCompressor compressor(6);
  Bytes out;
  ASSERT_TRUE(Compress(compressor, TextBytes(100000, 3), true, out));
  Bytes longer = out, damaged = out;
  longer.push_back(0);  // bytes after its end
  damaged[0] |= 6;      // block type 3 does not exist
  kiln::FinalBlock final;
  EXPECT_TRUE(compressor.FindFinalBlock(out.data(), out.size(), final));
  EXPECT_FALSE(compressor.FindFinalBlock(out.data(), out.size() - 1, final));  // cut short
  EXPECT_FALSE(compressor.FindFinalBlock(longer.data(), longer.size(), final));
  EXPECT_FALSE(compressor.FindFinalBlock(damaged.data(), damaged.size(), final));
}

}  // namespace
