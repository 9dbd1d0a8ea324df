#include "security/sha1.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "security/crypto_test_util.h"

namespace perimo {
namespace {

using test::ToHex;

class Sha1Test : public test::AccelerationParam {};

std::string Digest(const std::string& text) {
  return ToHex(CSHA1::Hash({reinterpret_cast<const uint8_t*>(text.data()), text.size()}));
}

TEST_P(Sha1Test, Fips180Examples) {
  EXPECT_EQ(Digest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Digest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Digest(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Every length around the padding boundaries and random larger ones, added in random pieces.
TEST_P(Sha1Test, MatchesOpenSslForManyLengthsAndSplits) {
  std::mt19937 rng(180);
  for (size_t length = 0; length < 600; length += (length < 260 ? 1 : 37)) {
    const auto data = test::RandomBytes(rng, length);
    uint8_t expected[SHA_DIGEST_LENGTH];
    SHA1(data.data(), data.size(), expected);

    CSHA1 sha;
    size_t at = 0;
    while (at < data.size()) {
      const size_t piece = std::min<size_t>(data.size() - at, rng() % 150);
      sha.Update(data.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(ToHex(sha.Final()), ToHex(expected, sizeof expected)) << "length " << length;
  }
  const auto big = test::RandomBytes(rng, (1 << 20) + 13);
  uint8_t expected[SHA_DIGEST_LENGTH];
  SHA1(big.data(), big.size(), expected);
  EXPECT_EQ(ToHex(CSHA1::Hash(big)), ToHex(expected, sizeof expected));
}

TEST_P(Sha1Test, HashesFilesByNativePath) {
  std::mt19937 rng(7);
  const std::string path = ::testing::TempDir() + "sha1_file_" + std::to_string(getpid());
  for (size_t length : {size_t{0}, size_t{55}, size_t{64}, size_t{65536}, size_t{200001}}) {
    const auto data = test::RandomBytes(rng, length);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(length));
    uint8_t expected[SHA_DIGEST_LENGTH];
    SHA1(data.data(), data.size(), expected);
    CSHA1 sha;
    ASSERT_TRUE(sha.HashFile(path));
    EXPECT_EQ(ToHex(sha.GetHash()), ToHex(expected, sizeof expected)) << length;
  }
  std::remove(path.c_str());
  CSHA1 sha;
  EXPECT_FALSE(sha.HashFile(path));
  // Endless or blocking sources are refused rather than read.
  EXPECT_FALSE(sha.HashFile("/dev/zero"));
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(sha.HashFile(path));
  std::remove(path.c_str());
}

TEST_P(Sha1Test, ResetStartsAfresh) {
  CSHA1 sha;
  sha.Update(reinterpret_cast<const uint8_t*>("junk"), 4);
  sha.Reset();
  sha.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
  EXPECT_EQ(ToHex(sha.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha1Test, ::testing::Bool(), test::PathName);

}  // namespace
}  // namespace perimo
