#include "formats/decompress.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"

namespace perimo::test {
namespace {

class DecompressFileTest : public ::testing::TestWithParam<int> {
 protected:
  TempDir dir_;
  std::string source_ = dir_.Path("source");
  std::string target_ = dir_.Path("target");
};

TEST_P(DecompressFileTest, WritesThePlainContent) {
  const Bytes data = BinaryData(100000);
  WriteFileBytes(source_, Compress(GetParam(), data));
  WriteFileBytes(target_, FromString("old content to be replaced"));
  ASSERT_TRUE(DecompressFile(source_, target_, false));
  EXPECT_TRUE(ReadFileBytes(target_) == data);
  EXPECT_TRUE(FileExists(source_));
  ASSERT_TRUE(DecompressFile(source_, dir_.Path("again"), true));
  EXPECT_FALSE(FileExists(source_));
}

TEST_P(DecompressFileTest, CutStreamFailsAndLeavesNoTarget) {
  const int kind = GetParam();
  if (kind == kPlain) GTEST_SKIP() << "a plain file has no stream to cut";
  const Bytes image = Compress(kind, TextData(40000));
  for (size_t keep : {kHeaderSize, kHeaderSize + 1, image.size() / 2, image.size() - 3}) {
    SCOPED_TRACE(keep);
    WriteFileBytes(source_, Bytes(image.begin(), image.begin() + static_cast<long>(keep)));
    EXPECT_FALSE(DecompressFile(source_, target_, true));
    EXPECT_FALSE(FileExists(target_));
    EXPECT_TRUE(FileExists(source_));
  }
}

TEST_P(DecompressFileTest, StreamEndingBeforeOriginalSizeFails) {
  const int kind = GetParam();
  if (kind == kPlain) GTEST_SKIP() << "a plain file's size is its length";
  const Bytes image = Compress(kind, TextData(5000));
  WriteFileBytes(source_, WithSizes(image, 5001, static_cast<uint32_t>(image.size() - 16)));
  EXPECT_FALSE(DecompressFile(source_, target_, false));
  EXPECT_FALSE(FileExists(target_));
}

TEST_P(DecompressFileTest, ReportsProgressUpToTheTotal) {
  const Bytes data = TextData(300000);
  WriteFileBytes(source_, Compress(GetParam(), data));
  uint64_t last = 0;
  int calls = 0;
  ASSERT_TRUE(DecompressFile(source_, target_, false, [&](uint64_t done, uint64_t total) {
    EXPECT_GT(done, last);
    EXPECT_EQ(total, data.size());
    last = done;
    ++calls;
  }));
  EXPECT_EQ(last, data.size());
  EXPECT_GT(calls, 1);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DecompressFileTest,
                         ::testing::Values(kHuffman, kLzss, kLzw, kPlain));

TEST(DecompressFile, FileWithoutKnownMagicIsCopiedUnchanged) {
  TempDir dir;
  for (const Bytes& content :
       {FromString("**++LZWX and then text"), FromString("**++LZ"), Bytes{}, RandomData(70001)}) {
    WriteFileBytes(dir.Path("in"), content);
    ASSERT_TRUE(DecompressFile(dir.Path("in"), dir.Path("out"), false));
    EXPECT_TRUE(ReadFileBytes(dir.Path("out")) == content);
  }
}

TEST(DecompressFile, RefusesBadPaths) {
  TempDir dir;
  WriteFileBytes(dir.Path("in"), Compress(kLzss, FromString("data")));
  EXPECT_FALSE(DecompressFile("", dir.Path("out"), false));
  EXPECT_FALSE(DecompressFile(dir.Path("in"), "", false));
  EXPECT_FALSE(DecompressFile(dir.Path("missing"), dir.Path("out"), false));
  EXPECT_FALSE(DecompressFile(dir.Path("in"), dir.Path("no/folder/out"), false));
  EXPECT_FALSE(FileExists(dir.Path("out")));
  // Expanding a file onto itself would destroy it.
  EXPECT_FALSE(DecompressFile(dir.Path("in"), dir.Path("in"), false));
  EXPECT_EQ(ReadFileBytes(dir.Path("in")), Compress(kLzss, FromString("data")));
}

TEST(DecompressFile, CorruptStreamFails) {
  TempDir dir;
  // LZW: a byte, then a code far above the next free one.
  WriteFileBytes(dir.Path("in"),
                 ImageOf(kLzw, 50, BitPacker().Put('a', 9).Put(400, 9).Put(256, 9).Finish()));
  EXPECT_FALSE(DecompressFile(dir.Path("in"), dir.Path("out"), false));
  EXPECT_FALSE(FileExists(dir.Path("out")));
}

TEST(DecompressFile, LastPartialByteMayBeMissingWhenTheDataIsComplete) {
  // A writer that drops the last partial byte loses part of the end code, never data.
  TempDir dir;
  Bytes image = Compress(kLzw, FromString("abababa"));
  image.pop_back();
  WriteFileBytes(dir.Path("in"), image);
  ASSERT_TRUE(DecompressFile(dir.Path("in"), dir.Path("out"), false));
  EXPECT_EQ(ReadFileBytes(dir.Path("out")), FromString("abababa"));
}

// Runs DecompressFile in a child whose address space may grow by only `headroom` bytes.
// Returns the child's exit code: 0 failure reported, 1 success, other: crashed.
int DecompressWithMemoryLimit(const std::string& source, const std::string& target,
                              size_t headroom) {
  const pid_t child = ::fork();
  if (child == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + headroom;
    const struct rlimit cap = {limit, limit};
    ::setrlimit(RLIMIT_AS, &cap);
    ::_exit(DecompressFile(source, target, false) ? 1 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(DecompressFile, MemoryStaysFlatWhateverTheHeaderClaims) {
#ifdef PERIMO_SANITIZED
  GTEST_SKIP() << "address-space limits do not mix with the sanitizer's shadow memory";
#endif
  TempDir dir;
  const Bytes data(24 << 20, 'z');
  const Bytes image = Compress(kLzw, data);
  const auto streamSize = static_cast<uint32_t>(image.size() - kHeaderSize);
  WriteFileBytes(dir.Path("honest"), image);
  WriteFileBytes(dir.Path("claims4g"), WithSizes(image, 0xFFFFFFFFu, streamSize));
  const size_t headroom = 12 << 20;
  EXPECT_EQ(DecompressWithMemoryLimit(dir.Path("honest"), dir.Path("out1"), headroom), 1);
  EXPECT_EQ(std::filesystem::file_size(dir.Path("out1")), data.size());
  EXPECT_EQ(DecompressWithMemoryLimit(dir.Path("claims4g"), dir.Path("out2"), headroom), 0);
  EXPECT_FALSE(FileExists(dir.Path("out2")));
}

}  // namespace
}  // namespace perimo::test
