#include <gtest/gtest.h>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"
#include "formats/lzss_file.h"

namespace perimo::test {
namespace {

TEST(LzssFile, StreamOfOnlyTheEndMarkerDecodesToNothing) {
  const Bytes image = Compress(kLzss, {});
  // Flag 0 and position 0: 13 zero bits.
  EXPECT_EQ(StreamOf(image), (Bytes{0x00, 0x00}));
  const Expanded out = Expand(kLzss, image, 16);
  EXPECT_TRUE(out.data.empty());
  EXPECT_FALSE(out.corrupt);
  // Even when the header claims more.
  EXPECT_TRUE(Expand(kLzss, WithSizes(image, 100, 2), 16).data.empty());
}

TEST(LzssFile, HandWorkedStream) {
  // Literal 'a' at position 1, then a copy of 3 bytes from position 1 (overlapping the
  // bytes it writes), then the end marker.
  const Bytes stream = BitPacker()
                           .Put(1, 1)
                           .Put('a', 8)
                           .Put(0, 1)
                           .Put(1, kLzssPositionBits)
                           .Put(3 - kLzssMinMatch, kLzssLengthBits)
                           .Put(0, 1)
                           .Put(0, kLzssPositionBits)
                           .Finish();
  EXPECT_EQ(StreamOf(Compress(kLzss, FromString("aaaa"))), stream);
  EXPECT_EQ(Expand(kLzss, ImageOf(kLzss, 4, stream), 2).data, FromString("aaaa"));
}

TEST(LzssFile, CopyFromTheInitialZeroWindow) {
  // A copy before anything was written reads the window's zero bytes.
  const Bytes stream = BitPacker()
                           .Put(0, 1)
                           .Put(4000, kLzssPositionBits)
                           .Put(17 - kLzssMinMatch, kLzssLengthBits)
                           .Put(0, 1)
                           .Put(0, kLzssPositionBits)
                           .Finish();
  EXPECT_EQ(Expand(kLzss, ImageOf(kLzss, 17, stream), 5).data, Bytes(17, 0));
}

TEST(LzssFile, LongestMatchLengthAndWindowWrap) {
  // Long runs give 17-byte copies; over 4096 bytes the positions wrap around the window.
  Bytes data = RepetitiveData(20000);
  // 17 bytes for 17 bits, once the first repeats are in the window.
  EXPECT_LT(Compress(kLzss, data).size(), data.size() / 7);
  const Bytes more = TextData(20000, 4);
  data.insert(data.end(), more.begin(), more.end());
  EXPECT_TRUE(Expand(kLzss, Compress(kLzss, data), 17).data == data);
}

}  // namespace
}  // namespace perimo::test
