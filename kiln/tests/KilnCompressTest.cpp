// The encoder on its own: blocks compressed apart and joined into one raw deflate stream,
// read back by zlib.

#include "KilnCompress.h"
#include "KilnHarness.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(size_t size, unsigned seed) {
  const std::string s = kilntest::TextBytes(size, seed);
  return Bytes(s.begin(), s.end());
}

Bytes Random(size_t size, unsigned seed) {
  const std::string s = kilntest::RandomBytes(size, seed);
  return Bytes(s.begin(), s.end());
}

// The stream inflated; "damaged" when it is not exactly one complete raw deflate stream.
std::string Inflate(const Bytes& stream) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) return "damaged";
  std::string out;
  std::vector<char> buffer(1 << 16);
  s.next_in = const_cast<Bytef*>(stream.data());
  s.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    s.next_out = reinterpret_cast<Bytef*>(buffer.data());
    s.avail_out = static_cast<uInt>(buffer.size());
    rc = inflate(&s, Z_NO_FLUSH);
    out.append(buffer.data(), buffer.size() - s.avail_out);
  }
  const bool whole = rc == Z_STREAM_END && s.avail_in == 0;
  inflateEnd(&s);
  return whole ? out : "damaged";
}

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A block's final deflate block may end at any bit of its last byte, and the empty stored
// block that continues the stream then fits in that byte or spills into one more: each case
// must give one stream.
TEST(KilnCompress, BlocksJoinIntoOneStreamWhereverTheFinalBlockEnds) {
  kiln::BlockCompressor compressor(6);
  ASSERT_TRUE(compressor.Usable());
  std::set<uint64_t> endBits;
  Bytes out;
  for (unsigned seed = 0; seed < 200; ++seed) {
    const size_t size = 1 + (seed * 7919) % 20000;
    Bytes first = seed % 10 == 9 ? Random(size, seed) : Text(size, seed);
    Bytes second = Text(3000 + seed, seed + 1000);
    ASSERT_TRUE(compressor.Compress(first.data(), first.size(), true, out));
    kiln::FinalBlock final;
    ASSERT_TRUE(compressor.FindFinalBlock(out.data(), out.size(), final));
    EXPECT_LT(final.start, final.end);
    endBits.insert(final.end % 8);

    Bytes stream;
    ASSERT_TRUE(compressor.Compress(first.data(), first.size(), false, out));
    stream = out;
    ASSERT_TRUE(compressor.Compress(second.data(), second.size(), true, out));
    stream.insert(stream.end(), out.begin(), out.end());
    ASSERT_EQ(Inflate(stream), AsString(first) + AsString(second)) << "size " << size;
  }
  EXPECT_EQ(endBits.size(), 8u);
}

TEST(KilnCompress, FinalBlockIsNotFoundInDamagedOrLongerStreams) {
  kiln::BlockCompressor compressor(6);
  Bytes data = Text(100000, 3), out;
  ASSERT_TRUE(compressor.Compress(data.data(), data.size(), true, out));
  kiln::FinalBlock final;
  EXPECT_TRUE(compressor.FindFinalBlock(out.data(), out.size(), final));
  EXPECT_FALSE(compressor.FindFinalBlock(out.data(), out.size() - 1, final));  // cut short
  Bytes longer = out;
  longer.push_back(0);
  EXPECT_FALSE(compressor.FindFinalBlock(longer.data(), longer.size(), final));  // bytes after its end
  Bytes damaged = out;
  damaged[0] |= 6;  // block type 3 does not exist
  EXPECT_FALSE(compressor.FindFinalBlock(damaged.data(), damaged.size(), final));
}

}  // namespace
