// The compression methods beyond stored (deflate, Deflate64, bzip2, LZMA, xz, Zstandard):
// archives written by 7-Zip, by Python and by hand, extracted and tested through the real
// library, whole and damaged.

#include <filesystem>
#include <random>

#include "DeflateDecoder.h"
#include "SluiceHarness.h"
#include "TestFiles.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string kLib = SLUICE_LIBRARY;

std::string Craft(const TempDir& dir, const std::string& name, const std::string& json) {
  const CommandResult r = RunCommand(std::string(TESSERA_PYTHON) + " " + Quote(SLUICE_CRAFTED_METHODS) +
                                     " " + Quote(dir / name) + " " + Quote(json));
  EXPECT_EQ(r.Status, 0) << r.Output;
  return dir / name;
}

// Text of words and numbers, with repeats near and far.
std::string Text(size_t size, unsigned seed) {
  static const char* kWords[] = {"archive", "entry", "the", "of", "stream", "window", "data", "block", "and", "code"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    s += kWords[rng() % 10];
    s += rng() % 8 ? " " : " " + std::to_string(rng() % 100000) + "\n";
  }
  s.resize(size);
  return s;
}

std::string Random(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

// Files of the sizes where buffers and windows turn over, and a few MB of text and of
// random bytes.
std::vector<std::pair<std::string, std::string>> SampleFiles() {
  std::vector<std::pair<std::string, std::string>> files;
  for (size_t size : {size_t(0), size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(262143),
                      size_t(262144), size_t(262145)})
    files.emplace_back("size" + std::to_string(size), Text(size, unsigned(size)));
  files.emplace_back("text.txt", Text(2 << 20, 1));
  files.emplace_back("random.bin", Random(1 << 20, 2));
  return files;
}

void ExpectFiles(const std::vector<std::pair<std::string, std::string>>& files, const std::string& folder) {
  for (const auto& [name, data] : files) {
    ASSERT_TRUE(fs::exists(folder + "/" + name)) << name;
    EXPECT_TRUE(ReadFile(folder + "/" + name) == data) << name;
  }
}

TEST(Methods, PeerArchivesOfEveryMethodComeOutByteForByte) {
  TempDir tmp;
  const std::string src = tmp / "src";
  fs::create_directories(src);
  const auto files = SampleFiles();
  std::string crafted[3];  // Zstandard frames, bzip2 streams, xz streams: three of each
  const char* craftedMethod[3] = {"93", "12", "95"};
  for (const auto& [name, data] : files) {
    WriteFile(src + "/" + name, data);
    for (int k = 0; k < 3; ++k)
      crafted[k] += std::string(crafted[k].empty() ? "[" : ",") + R"({"name": ")" + name + R"(", "method": )" +
                    craftedMethod[k] + R"(, "parts": 3, "file": ")" + src + "/" + name + "\"}";
  }
  const std::vector<std::pair<std::string, std::string>> archives = {
      {"7z-deflate64.zip", "7zz a -bd -tzip -mm=Deflate64"},
      {"7z-bzip2.zip", "7zz a -bd -tzip -mm=BZip2"},
      {"7z-lzma.zip", "7zz a -bd -tzip -mm=LZMA"},
      {"7z-lzma-no-marker.zip", "7zz a -bd -tzip -mm=LZMA:eos=off -mx=1"},
      {"7z-xz.zip", "7zz a -bd -tzip -mm=xz -mx=1"},
  };
  for (const auto& [name, command] : archives)
    ASSERT_EQ(RunCommand(command + " " + Quote(tmp / name) + " . >/dev/null", src).Status, 0) << command;
  // Only the marker flag tells the two LZMA archives apart.
  EXPECT_EQ(ReadFile(tmp / "7z-lzma.zip")[6] & 2, 2);
  EXPECT_EQ(ReadFile(tmp / "7z-lzma-no-marker.zip")[6] & 2, 0);
  Python(R"PY(
import os, sys, zipfile
for out, method in ((sys.argv[2], zipfile.ZIP_LZMA), (sys.argv[3], zipfile.ZIP_BZIP2)):
    with zipfile.ZipFile(out, 'w', method) as z:
        for name in sorted(os.listdir(sys.argv[1])):
            z.write(os.path.join(sys.argv[1], name), name)
)PY",
         {src, tmp / "py-lzma.zip", tmp / "py-bzip2.zip"});
  Craft(tmp, "zstd.zip", crafted[0] + "]");
  Craft(tmp, "bzip2-streams.zip", crafted[1] + "]");
  Craft(tmp, "xz-streams.zip", crafted[2] + "]");

  Sluice lib(kLib);
  for (const std::string name : {"7z-deflate64.zip", "7z-bzip2.zip", "7z-lzma.zip", "7z-lzma-no-marker.zip",
                                 "7z-xz.zip", "py-lzma.zip", "py-bzip2.zip", "zstd.zip", "bzip2-streams.zip",
                                 "xz-streams.zip"}) {
    SCOPED_TRACE(name);
    const std::string out = tmp / ("out-" + name);
    fs::create_directories(out);
    const Outcome o = lib.Run({.archive = tmp / name}, out);
    EXPECT_EQ(o.count, int32_t(files.size())) << o.AllMessages();
    ExpectFiles(files, out);
    const Outcome t = lib.Run({.archive = tmp / name, .test = true}, out);
    EXPECT_EQ(t.count, int32_t(files.size())) << t.AllMessages();
    fs::remove_all(out);
  }
}

// Deflate64 as 7-Zip never writes it: length code 285 (3 plus 16 extra bits, up to 65,538,
// also for short lengths), distances up to 64 KiB (codes 30 and 31), and a dynamic block whose
// codes run to 15 bits. 7-Zip reads each stream as the encoder meant it.
TEST(Methods, Deflate64LongLengthsAndFarDistances) {
  TempDir tmp;
  const std::string zip = Craft(tmp, "d64.zip", R"([
    {"name": "aaa.txt", "method": 9, "expect": ")" + tmp / "aaa.txt" + R"(",
     "d64": [{"type": "fixed", "tokens": ["a", [1000, 1]]}]},
    {"name": "far.bin", "method": 9, "expect": ")" + tmp / "far.bin" + R"(", "d64": [
      {"type": "stored", "random": 65535, "seed": 1}, {"type": "stored", "random": 1, "seed": 2},
      {"type": "fixed", "tokens": [[65538, 65536], [300, 32769], [258, 49152], [4, 49153], "xyz", [65538, 1],
                                   [3, 7, "long"], [65535, 65535]]}]},
    {"name": "long-codes.txt", "method": 9, "expect": ")" + tmp / "long-codes.txt" + R"(", "d64": [
      {"type": "dynamic",
       "lit": {"97": 1, "285": 2, "98": 3, "256": 4, "99": 5, "100": 6, "101": 7, "102": 8, "103": 9, "104": 10,
               "105": 11, "106": 12, "107": 13, "108": 14, "109": 15, "257": 15},
       "dist": {"31": 1, "30": 2, "0": 3, "1": 4, "2": 5, "3": 6, "4": 7, "5": 8, "6": 9, "7": 10, "8": 11,
                "9": 12, "10": 13, "11": 14, "12": 15, "13": 15},
       "tokens": ["abcdefghijklm", "mlkjihgfedcba", "abcdefghijklm", "mmmmmmmmmmmmm", "abcdefghijklm",
                  "mlkjihgfedcba", "abcdefghijklm", "mmmmmmmmmmmmm", [100, 70, "long"], [20, 50, "long"], [3, 13],
                  [65538, 1], "m", [65538, 97], [65538, 60], "l", [65538, 1], [3, 3]]},
      {"type": "fixed", "tokens": ["end", [65538, 32769]]}]}
  ])");
  EXPECT_EQ(fs::file_size(tmp / "aaa.txt"), 1001u);
  const CommandResult peer = RunCommand("7zz t " + Quote(zip));
  ASSERT_EQ(peer.Status, 0) << peer.Output;

  const std::string out = tmp / "out";
  fs::create_directories(out);
  Sluice lib(kLib);
  const Outcome o = lib.Run({.archive = zip}, out);
  EXPECT_EQ(o.count, 3) << o.AllMessages();
  for (const char* name : {"aaa.txt", "far.bin", "long-codes.txt"})
    EXPECT_TRUE(ReadFile(out + "/" + name) == ReadFile(tmp / name)) << name;
  EXPECT_EQ(lib.Run({.archive = zip, .test = true}, out).count, 3);
}

// Each method's data cut short, followed by more, declared too large or too small, with a
// wrong CRC, or shared with another entry: each entry fails alone, with its reason, and
// leaves no file.
TEST(Methods, DamageOfEachMethodIsNamed) {
  TempDir tmp;
  Sluice lib(kLib);
  for (const std::string method : {"8", "12", "14", "93", "95", "9"}) {
    SCOPED_TRACE("method " + method);
    // Deflate64 from tokens; the others from their libraries.
    const std::string data = method == "9" ? R"("d64": [{"type": "stored", "random": 1000, "seed": 3},
                                                        {"type": "fixed", "tokens": ["some data ", [60000, 10]]}])"
                                           : R"("text": "some data to compress, and more ", "repeat": 2000)";
    std::string json = "[";
    for (const std::string variant :
         {R"("name": "whole")", R"("name": "cut", "cut": 20)", R"("name": "trailing", "append": "junk!")",
          R"("name": "large", "declare": 70000)", R"("name": "small", "declare": 1000)",
          R"("name": "crc", "crcxor": 1)"})
      json += "{" + variant + ", \"method\": " + method + ", " + data + "},";
    json += R"({"name": "shared", "share": 0, "method": )" + method + ", " + data + "}]";
    const std::string zip = Craft(tmp, "m" + method + ".zip", json);
    for (bool test : {true, false}) {
      const std::string out = tmp / ("out" + method + (test ? "-test" : ""));
      fs::create_directories(out);
      const Outcome o = lib.Run({.archive = zip, .test = test}, out);
      EXPECT_EQ(o.count, 0) << o.AllMessages();  // "whole" shares its data with "shared"
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "whole: refused: its data overlaps")) << o.AllMessages();
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "shared: refused: its data overlaps"));
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "cut: the data is truncated"));
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "trailing: the compressed data is damaged: data follows its end"));
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "large: the data is truncated or damaged"));
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "small: holds more data than its declared size"));
      EXPECT_TRUE(o.HasMessage(kLibErrCrc, "crc: CRC error"));
      EXPECT_EQ(o.Messages().size(), 7u) << o.AllMessages();
      EXPECT_TRUE(fs::is_empty(out)) << "extracted: no file is left of a failed entry";
    }
  }
}

// A deflate entry whose declared sizes fit the bound is decoded whole, a larger one streamed:
// both ways at the bound and a byte either side, with true sizes and with lying ones.
TEST(Methods, DeflateAroundTheWholeBufferBound) {
  TempDir tmp;
  constexpr size_t kBound = sluice::DeflateDecoder::kWholeLimit;
  const std::string text = Text(kBound + 2, 11);
  std::string json = "[";
  auto entry = [&](const std::string& name, size_t size, size_t declare, const std::string& more = "") {
    WriteFile(tmp / name, text.substr(0, size));
    json += std::string(json.size() > 1 ? "," : "") + R"({"name": ")" + name + R"(", "method": 8, "file": ")" +
            (tmp / name) + R"(", "declare": )" + std::to_string(declare) + more + "}";
  };
  for (const auto& [name, size] : {std::pair{"below", kBound - 1}, {"at", kBound}, {"above", kBound + 1}})
    entry(name, size, size);
  entry("more-at", kBound + 1, kBound);  // decoded whole: the buffer is full a byte early
  entry("more-below", kBound, kBound - 1);
  entry("more-above", kBound + 2, kBound + 1);  // streamed
  entry("less-at", kBound - 1, kBound);
  entry("less-above", kBound, kBound + 1);
  entry("cut-above", kBound + 1, kBound + 1, R"(, "cut": 20)");  // the streamed way's ends
  entry("trailing-above", kBound + 1, kBound + 1, R"(, "append": "junk")");
  const std::string zip = Craft(tmp, "bound.zip", json + "]");
  Sluice lib(kLib);
  for (bool test : {true, false}) {
    SCOPED_TRACE(test ? "test" : "extract");
    const std::string out = tmp / (test ? "tested" : "extracted");
    fs::create_directories(out);
    const Outcome o = lib.Run({.archive = zip, .test = test}, out);
    EXPECT_EQ(o.count, 3) << o.AllMessages();
    for (const char* name : {"more-at", "more-below", "more-above"})
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, std::string(name) + ": holds more data than its declared size"))
          << o.AllMessages();
    for (const char* name : {"less-at", "less-above"})
      EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, std::string(name) + ": the data is truncated or damaged"))
          << o.AllMessages();
    EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "cut-above: the data is truncated")) << o.AllMessages();
    EXPECT_TRUE(o.HasMessage(kLibErrBadArchive, "trailing-above: the compressed data is damaged: data follows"));
    EXPECT_EQ(o.Messages().size(), 7u) << o.AllMessages();
    if (test) continue;
    ExpectFiles({{"below", text.substr(0, kBound - 1)}, {"at", text.substr(0, kBound)},
                 {"above", text.substr(0, kBound + 1)}},
                out);
    size_t files = 0;
    for ([[maybe_unused]] const auto& f : fs::directory_iterator(out)) ++files;
    EXPECT_EQ(files, 3u);
  }
}

// Random bytes of each method's data changed (Deflate64 as 7-Zip writes it): a clean message
// or, rarely, a good entry; never a crash, a hang or a file.
TEST(Methods, DamagedStreamsFailCleanly) {
  TempDir tmp;
  const std::string text = Text(200000, 3);
  WriteFile(tmp / "t.txt", text);
  ASSERT_EQ(RunCommand("7zz a -bd -tzip -mm=Deflate64 d64.zip t.txt >/dev/null", tmp.Path().string()).Status, 0);
  Sluice lib(kLib);
  std::mt19937 rng(5);
  for (const std::string method : {"9", "12", "14", "93", "95"}) {
    SCOPED_TRACE("method " + method);
    const std::string json =
        R"([{"name": "t.txt", "method": )" + method + R"(, "parts": 2, "file": ")" + tmp / "t.txt" + "\"}]";
    const std::string good = ReadFile(method == "9" ? tmp / "d64.zip" : Craft(tmp, "good.zip", json));
    const size_t dataAt = 30 + 5, dataEnd = good.rfind(std::string("PK\x01\x02", 4));
    int failed = 0;
    for (int round = 0; round < 40; ++round) {
      std::string bad = good;
      for (int k = 0; k < 1 + round % 3; ++k) bad[dataAt + rng() % (dataEnd - dataAt)] ^= char(1 << (rng() % 8));
      WriteFile(tmp / "bad.zip", bad);
      const std::string out = tmp / "out";
      fs::create_directories(out);
      const Outcome o = lib.Run({.archive = tmp / "bad.zip", .test = round % 2 == 0}, out);
      ASSERT_TRUE(o.count == 0 || o.count == 1);
      if (o.count == 0) {
        ++failed;
        ASSERT_EQ(o.Messages().size(), 1u) << o.AllMessages();
        EXPECT_NE(o.Messages()[0].first, 0);
        EXPECT_TRUE(fs::is_empty(out));
      }
      fs::remove_all(out);
    }
    EXPECT_GT(failed, 30);
  }
}

TEST(Methods, PpmdIsRefusedByName) {
  TempDir tmp;
  WriteFile(tmp / "a.txt", Text(5000, 4));
  ASSERT_EQ(RunCommand("7zz a -bd -tzip -mm=PPMd p.zip a.txt >/dev/null", tmp.Path().string()).Status, 0);
  const Outcome o = Sluice(kLib).Run({.archive = tmp / "p.zip", .test = true}, tmp.Path());
  EXPECT_EQ(o.count, 0);
  EXPECT_TRUE(o.HasMessage(kLibErrUnsupported, "a.txt: compression method 98 (PPMd) is not supported"))
      << o.AllMessages();
}

// Decoders read an entry's data to its end even when the stream ended before: only there
// does WinZip AES check its authentication code.
TEST(Methods, AuthenticationCodeCheckedAfterCompressedData) {
  TempDir tmp;
  WriteFile(tmp / "a.txt", Text(100000, 6));
  Sluice lib(kLib);
  for (const std::string method : {"Deflate", "Deflate64", "BZip2", "LZMA"}) {
    SCOPED_TRACE(method);
    const std::string zip = tmp / (method + ".zip");
    ASSERT_EQ(RunCommand("7zz a -bd -tzip -mm=" + method + " -mem=AES256 -psecret " + Quote(zip) + " a.txt >/dev/null",
                         tmp.Path().string())
                  .Status,
              0);
    EXPECT_EQ(lib.Run({.archive = zip, .password = "secret", .test = true}, tmp.Path()).count, 1);
    std::string bytes = ReadFile(zip);
    bytes[bytes.rfind(std::string("PK\x01\x02", 4)) - 1] ^= 1;  // the code's last byte
    WriteFile(zip, bytes);
    const Outcome o = lib.Run({.archive = zip, .password = "secret", .test = true}, tmp.Path());
    EXPECT_EQ(o.count, 0);
    EXPECT_TRUE(o.HasMessage(kLibErrCrc, "a.txt: authentication failed")) << o.AllMessages();
  }
}

}  // namespace
