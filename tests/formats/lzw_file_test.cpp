#include <gtest/gtest.h>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"
#include "formats/lzw_file.h"

namespace perimo::test {
namespace {

TEST(LzwFile, AlternatingBytesUseTheCodeNotYetInTheDictionary) {
  // Codes 97 'a', 98 'b', 259 "ab", 261 "aba" (sent before the decoder has defined it),
  // end 256: five 9-bit codes, 45 bits.
  const Bytes expected = {'*', '*', '+', '+', 'L', 'Z',  'W',  ' ',  7,    0,    0,
                          0,   6,   0,   0,   0,   0x30, 0x98, 0xA0, 0x70, 0x58, 0x00};
  EXPECT_EQ(Compress(kLzw, FromString("abababa")), expected);
  for (size_t readSize : {1, 2, 3, 64}) {
    const Expanded out = Expand(kLzw, expected, readSize);
    EXPECT_EQ(out.data, FromString("abababa")) << readSize;
    EXPECT_FALSE(out.corrupt);
  }
}

TEST(LzwFile, EmptyInputSendsCodeZeroThenEnd) {
  const Bytes stream = StreamOf(Compress(kLzw, {}));
  EXPECT_EQ(stream, BitPacker().Put(0, 9).Put(kLzwEndCode, 9).Finish());
}

// Walks the stream's codes and records how many data codes came between special codes.
TEST(LzwFile, BumpsWidenOneBitAtATimeAndFlushRestartsAtNineBits) {
  const Bytes data = RandomData(120000, 11);
  const Bytes image = Compress(kLzw, data);
  const Bytes stream = StreamOf(image);
  BitUnpacker bits(stream);
  int width = kLzwStartBits;
  uint32_t dataCodes = 0;
  std::vector<uint32_t> runs;
  std::vector<int> widthsAtBump;
  int flushes = 0;
  for (;;) {
    ASSERT_FALSE(bits.Done(width));
    const uint32_t code = bits.Get(width);
    if (code == kLzwEndCode) break;
    if (code == kLzwBumpCode) {
      widthsAtBump.push_back(width);
      runs.push_back(dataCodes);
      dataCodes = 0;
      ++width;
    } else if (code == kLzwFlushCode) {
      EXPECT_EQ(width, kLzwMaxBits);
      runs.push_back(dataCodes);
      dataCodes = 0;
      width = kLzwStartBits;
      ++flushes;
    } else {
      ++dataCodes;
    }
  }
  ASSERT_GE(flushes, 1);
  // Per dictionary: 253 codes at 9 bits (259..511), then 512, 1024, ... 16384 at 10..15.
  const std::vector<uint32_t> oneDictionary = {253, 512, 1024, 2048, 4096, 8192, 16384};
  ASSERT_GE(runs.size(), oneDictionary.size());
  EXPECT_EQ(std::vector<uint32_t>(runs.begin(), runs.begin() + 7), oneDictionary);
  EXPECT_EQ(std::vector<int>(widthsAtBump.begin(), widthsAtBump.begin() + 6),
            (std::vector<int>{9, 10, 11, 12, 13, 14}));
  const Expanded out = Expand(kLzw, image, 5000);
  EXPECT_TRUE(out.data == data);
}

Expanded ExpandCodes(std::initializer_list<std::pair<uint32_t, int>> codes, uint32_t size) {
  BitPacker packer;
  for (const auto& [code, width] : codes) packer.Put(code, width);
  return Expand(kLzw, ImageOf(kLzw, size, packer.Finish()), 64);
}

TEST(LzwFile, CorruptCodesFailTheFile) {
  // A code above the next free one (259 after one byte).
  Expanded out = ExpandCodes({{'a', 9}, {300, 9}}, 10);
  EXPECT_TRUE(out.corrupt);
  EXPECT_EQ(out.data, FromString("a"));
  // 260 is one above the next free code 259.
  EXPECT_TRUE(ExpandCodes({{'a', 9}, {260, 9}}, 10).corrupt);
  // The first code must be a byte, also right after a flush.
  EXPECT_TRUE(ExpandCodes({{300, 9}}, 10).corrupt);
  EXPECT_TRUE(ExpandCodes({{kLzwBumpCode, 9}}, 10).corrupt);
  EXPECT_TRUE(ExpandCodes({{'a', 9}, {kLzwFlushCode, 9}, {259, 9}}, 10).corrupt);
  // Widening past 15 bits.
  EXPECT_TRUE(ExpandCodes({{'a', 9},
                           {kLzwBumpCode, 9},
                           {kLzwBumpCode, 10},
                           {kLzwBumpCode, 11},
                           {kLzwBumpCode, 12},
                           {kLzwBumpCode, 13},
                           {kLzwBumpCode, 14},
                           {kLzwBumpCode, 15}},
                          10)
                  .corrupt);
}

TEST(LzwFile, FlushCodeRestartsTheDictionary) {
  const Expanded out = ExpandCodes(
      {{'a', 9}, {'b', 9}, {259, 9}, {kLzwFlushCode, 9}, {'c', 9}, {259, 9}, {kLzwEndCode, 9}}, 7);
  EXPECT_FALSE(out.corrupt);
  // After the flush, 259 is defined anew as "c" + its own first byte.
  EXPECT_EQ(out.data, FromString("ababccc"));
}

}  // namespace
}  // namespace perimo::test
