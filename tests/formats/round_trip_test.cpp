// Every kind must give back exactly what it was given, however the bytes are written and
// read in pieces.
#include <gtest/gtest.h>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"

namespace perimo::test {
namespace {

struct Sample {
  const char* name;
  Bytes data;
};

const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = {
      {"empty", {}},
      {"one byte", FromString("Q")},
      {"two bytes", FromString("ab")},
      {"all byte values",
       [] {
         Bytes b(512);
         for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7);
         return b;
       }()},
      {"repetitive", RepetitiveData(70000)},
      {"zeros", Bytes(100000, 0)},
      {"random", RandomData(150000)},
      {"text", TextData(300000)},
      {"binary", BinaryData(200000)},
  };
  return samples;
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, EverySampleAtEveryReadSize) {
  const int kind = GetParam();
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    const Bytes image = Compress(kind, sample.data);
    if (kind != kPlain) {
      ASSERT_EQ(DetectCompression(image.data(), image.size()), kind);
      ASSERT_EQ(image.size() - kHeaderSize, image[12] | image[13] << 8 | image[14] << 16 |
                                                static_cast<size_t>(image[15]) << 24);
    }
    for (size_t readSize : {size_t{1}, size_t{7}, size_t{4093}, sample.data.size() + 100}) {
      if (readSize == 1 && sample.data.size() > 100000) continue;
      SCOPED_TRACE(readSize);
      const Expanded out = Expand(kind, image, readSize);
      ASSERT_TRUE(out.opened);
      EXPECT_FALSE(out.corrupt);
      ASSERT_EQ(out.data.size(), sample.data.size());
      EXPECT_TRUE(out.data == sample.data);
    }
  }
}

TEST_P(RoundTrip, StreamDoesNotDependOnWriteSizes) {
  const int kind = GetParam();
  const Bytes data = TextData(50000, 9);
  const Bytes whole = Compress(kind, data);
  EXPECT_EQ(Compress(kind, data, 1), whole);
  EXPECT_EQ(Compress(kind, data, 16), whole);
  EXPECT_EQ(Compress(kind, data, 17), whole);
  EXPECT_EQ(Compress(kind, data, 4099), whole);
}

TEST_P(RoundTrip, ReadOfZeroBytesDeliversNothing) {
  const int kind = GetParam();
  const Bytes data = FromString("some bytes to read");
  const Bytes image = Compress(kind, data);
  auto file = CreateCompressedFile(std::string(), kind);
  ASSERT_TRUE(file->OpenMemory(image.data(), image.size()));
  uint8_t buffer[64];
  EXPECT_EQ(file->Read(buffer, 0), 0u);
  EXPECT_EQ(file->Read(buffer, sizeof buffer), data.size());
  EXPECT_EQ(file->Read(buffer, sizeof buffer), 0u);
}

TEST_P(RoundTrip, SizesReadBackFromHeader) {
  const int kind = GetParam();
  const Bytes data = BinaryData(12345);
  const Bytes image = Compress(kind, data);
  auto file = CreateCompressedFile(std::string(), kind);
  ASSERT_TRUE(file->OpenMemory(image.data(), image.size()));
  EXPECT_EQ(file->OriginalSize(), data.size());
  EXPECT_EQ(file->CompressedSize(), kind == kPlain ? data.size() : image.size() - kHeaderSize);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, RoundTrip, ::testing::Values(kHuffman, kLzss, kLzw, kPlain),
                         [](const ::testing::TestParamInfo<int>& info) {
                           switch (info.param) {
                             case kHuffman:
                               return std::string("Huffman");
                             case kLzss:
                               return std::string("Lzss");
                             case kLzw:
                               return std::string("Lzw");
                             default:
                               return std::string("Plain");
                           }
                         });

}  // namespace
}  // namespace perimo::test
