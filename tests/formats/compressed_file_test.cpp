#include "formats/compressed_file.h"

#include <gtest/gtest.h>

#include "formats/format_test_support.h"

namespace perimo::test {
namespace {

TEST(DetectCompression, KnowsTheThreeMagicsAndNothingElse) {
  TempDir dir;
  struct Case {
    std::string head;
    int kind;
  } cases[] = {
      {"**++HUFF", kHuffman}, {"**++LZSS", kLzss},
      {"**++LZW ", kLzw},     {"**++HUFFand more", kHuffman},
      {"**++LZWX", kPlain},   {std::string("**++LZW\0", 8), kPlain},
      {"**++LZW", kPlain},    {"**++lzss", kPlain},
      {"*++LZSS ", kPlain},   {"", kPlain},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir.Path("f"), FromString(c.head));
    EXPECT_EQ(DetectCompression(dir.Path("f")), c.kind) << c.head;
    EXPECT_EQ(DetectCompression(c.head.data(), c.head.size()), c.kind) << c.head;
  }
  EXPECT_EQ(DetectCompression(dir.Path("missing")), kPlain);
  EXPECT_EQ(DetectCompression(dir.Path("")), kPlain);
}

TEST(CreateCompressedFile, ClassFollowsTheMagicOrTheGivenKind) {
  TempDir dir;
  WriteFileBytes(dir.Path("lzw"), Compress(kLzw, FromString("x")));
  EXPECT_EQ(CreateCompressedFile(dir.Path("lzw"), kHuffman)->Kind(), kLzw);
  WriteFileBytes(dir.Path("plain"), FromString("just text"));
  EXPECT_EQ(CreateCompressedFile(dir.Path("plain"), kLzss)->Kind(), kPlain);
  EXPECT_EQ(CreateCompressedFile(std::string(), kLzss)->Kind(), kLzss);
  EXPECT_EQ(CreateCompressedFile(std::string(), 3)->Kind(), kPlain);
  EXPECT_EQ(CreateCompressedFile(std::string(), -7)->Kind(), kPlain);
}

TEST(CompressedFile, OpeningChecksTheHeader) {
  const Bytes lzss = Compress(kLzss, FromString("hello"));
  EXPECT_TRUE(CreateCompressedFile(std::string(), kLzss)->OpenMemory(lzss.data(), lzss.size()));
  // Another kind's magic, and a header cut inside its size fields.
  EXPECT_FALSE(CreateCompressedFile(std::string(), kLzw)->OpenMemory(lzss.data(), lzss.size()));
  EXPECT_FALSE(CreateCompressedFile(std::string(), kLzss)->OpenMemory(lzss.data(), 12));
  // A plain reader takes any bytes, header included.
  auto plain = CreateCompressedFile(std::string(), kPlain);
  ASSERT_TRUE(plain->OpenMemory(lzss.data(), lzss.size()));
  EXPECT_EQ(plain->OriginalSize(), lzss.size());
  TempDir dir;
  EXPECT_FALSE(CreateCompressedFile(std::string(), kLzss)
                   ->Open(dir.Path("missing"), CCompressedFile::Mode::kRead));
  EXPECT_FALSE(CreateCompressedFile(std::string(), kLzss)
                   ->Open(dir.Path("no/such/folder"), CCompressedFile::Mode::kCreate));
}

TEST(CompressedFile, WrittenHeaderHoldsBothSizes) {
  const Bytes data = TextData(10000);
  const Bytes image = Compress(kHuffman, data);
  ASSERT_GT(image.size(), kHeaderSize);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 8), FromString("**++HUFF"));
  EXPECT_EQ(image[8] | image[9] << 8 | image[10] << 16 | image[11] << 24, 10000);
  EXPECT_EQ(static_cast<size_t>(image[12] | image[13] << 8), image.size() - kHeaderSize);
}

TEST(CompressedFile, WritesOnlyWhatFitsTheSizeField) {
  TempDir dir;
  auto file = CreateCompressedFile(std::string(), kLzw);
  ASSERT_TRUE(file->Open(dir.Path("big"), CCompressedFile::Mode::kCreate));
  const uint8_t byte = 0;
  // The count alone is refused; the bytes behind it are never read.
  if constexpr (sizeof(size_t) > 4) {  // a 32-bit size_t cannot hold such a count
    EXPECT_FALSE(file->Write(&byte, static_cast<size_t>(uint64_t{1} << 32)));
  }
  EXPECT_TRUE(file->Write(&byte, 1));
  EXPECT_TRUE(file->Close());
  // Reading and writing only in the mode opened.
  auto reader = CreateCompressedFile(dir.Path("big"), kPlain);
  ASSERT_TRUE(reader->Open(dir.Path("big"), CCompressedFile::Mode::kRead));
  EXPECT_FALSE(reader->Write(&byte, 1));
}

}  // namespace
}  // namespace perimo::test
