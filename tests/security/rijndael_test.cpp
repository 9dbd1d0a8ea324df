#include "security/rijndael.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "security/crypto_test_util.h"

namespace perimo {
namespace {

using test::AccelerationParam;
using test::FromHex;
using test::ToHex;

class RijndaelTest : public AccelerationParam {};

std::vector<uint8_t> EncryptOne(const std::vector<uint8_t>& key, const std::vector<uint8_t>& in) {
  CRijndael aes;
  EXPECT_EQ(aes.MakeKey(key.data(), nullptr, static_cast<int>(key.size()), 16),
            RijndaelStatus::kOk);
  std::vector<uint8_t> out(in.size());
  EXPECT_EQ(aes.EncryptEcb(in.data(), out.data(), in.size()), RijndaelStatus::kOk);
  std::vector<uint8_t> back(in.size());
  EXPECT_EQ(aes.DecryptEcb(out.data(), back.data(), out.size()), RijndaelStatus::kOk);
  EXPECT_EQ(back, in);
  return out;
}

TEST_P(RijndaelTest, Fips197KnownAnswers) {
  const auto plain = FromHex("00112233445566778899aabbccddeeff");
  EXPECT_EQ(ToHex(EncryptOne(FromHex("000102030405060708090a0b0c0d0e0f"), plain)),
            "69c4e0d86a7b0430d8cdb78070b4c55a");
  EXPECT_EQ(ToHex(EncryptOne(FromHex("000102030405060708090a0b0c0d0e0f1011121314151617"), plain)),
            "dda97ca4864cdfe06eaf70a0ec0d7191");
  EXPECT_EQ(
      ToHex(EncryptOne(FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
                       plain)),
      "8ea2b7ca516745bfeafc49904b496089");
  EXPECT_EQ(ToHex(EncryptOne(FromHex("2b7e151628aed2a6abf7158809cf4f3c"),
                             FromHex("3243f6a8885a308d313198a2e0370734"))),
            "3925841d02dc09fbdc118597196a0b32");
}

const EVP_CIPHER* OpenSslCipher(size_t keyLength, CRijndael::Mode mode) {
  switch (mode) {
    case CRijndael::kEcb:
      return keyLength == 16   ? EVP_aes_128_ecb()
             : keyLength == 24 ? EVP_aes_192_ecb()
                               : EVP_aes_256_ecb();
    case CRijndael::kCbc:
      return keyLength == 16   ? EVP_aes_128_cbc()
             : keyLength == 24 ? EVP_aes_192_cbc()
                               : EVP_aes_256_cbc();
    case CRijndael::kCfb:
      return keyLength == 16   ? EVP_aes_128_cfb128()
             : keyLength == 24 ? EVP_aes_192_cfb128()
                               : EVP_aes_256_cfb128();
  }
  return nullptr;
}

std::vector<uint8_t> OpenSslEncrypt(const std::vector<uint8_t>& key, const uint8_t* iv,
                                    CRijndael::Mode mode, const std::vector<uint8_t>& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, OpenSslCipher(key.size(), mode), nullptr, key.data(), iv);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<uint8_t> out(in.size() + 16);
  int n = 0, tail = 0;
  EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + tail));
  return out;
}

// Random keys, initial vectors and lengths, every mode and key length, in place and not;
// CBC and CFB chain across two calls the way a stream would.
TEST_P(RijndaelTest, MatchesOpenSslInEveryModeAndKeyLength) {
  std::mt19937 rng(197);
  for (int keyLength : {16, 24, 32}) {
    for (auto mode : {CRijndael::kEcb, CRijndael::kCbc, CRijndael::kCfb}) {
      for (int trial = 0; trial < 40; ++trial) {
        const auto key = test::RandomBytes(rng, static_cast<size_t>(keyLength));
        const auto iv = test::RandomBytes(rng, 16);
        const size_t blocks = trial < 20 ? static_cast<size_t>(trial) : rng() % 300;
        const auto plain = test::RandomBytes(rng, 16 * blocks);
        const auto expected = OpenSslEncrypt(key, iv.data(), mode, plain);

        CRijndael aes;
        ASSERT_EQ(aes.MakeKey(key.data(), iv.data(), keyLength, 16), RijndaelStatus::kOk);
        std::vector<uint8_t> cipher = plain;
        const size_t half = 16 * (blocks / 2);
        ASSERT_EQ(aes.Encrypt(cipher.data(), cipher.data(), half, mode), RijndaelStatus::kOk);
        ASSERT_EQ(
            aes.Encrypt(cipher.data() + half, cipher.data() + half, cipher.size() - half, mode),
            RijndaelStatus::kOk);
        ASSERT_EQ(cipher, expected) << "key " << keyLength << " mode " << mode;

        aes.ResetChain();
        std::vector<uint8_t> back(cipher.size());
        ASSERT_EQ(aes.Decrypt(cipher.data(), back.data(), cipher.size(), mode),
                  RijndaelStatus::kOk);
        ASSERT_EQ(back, plain);
      }
    }
  }
}

TEST_P(RijndaelTest, WideBlocksRoundTripInEveryMode) {
  std::mt19937 rng(24);
  for (int blockSize : {24, 32}) {
    for (int keyLength : {16, 24, 32}) {
      for (auto mode : {CRijndael::kEcb, CRijndael::kCbc, CRijndael::kCfb}) {
        const auto key = test::RandomBytes(rng, static_cast<size_t>(keyLength));
        const auto plain = test::RandomBytes(rng, static_cast<size_t>(blockSize) * 5);
        CRijndael aes;
        ASSERT_EQ(aes.MakeKey(key.data(), nullptr, keyLength, blockSize), RijndaelStatus::kOk);
        EXPECT_EQ(aes.Rounds(), std::max(keyLength, blockSize) / 4 + 6);
        std::vector<uint8_t> cipher(plain.size());
        ASSERT_EQ(aes.Encrypt(plain.data(), cipher.data(), plain.size(), mode),
                  RijndaelStatus::kOk);
        EXPECT_NE(cipher, plain);
        aes.ResetChain();
        std::vector<uint8_t> back(plain.size());
        ASSERT_EQ(aes.Decrypt(cipher.data(), back.data(), cipher.size(), mode),
                  RijndaelStatus::kOk);
        EXPECT_EQ(back, plain) << blockSize << "/" << keyLength << "/" << mode;
      }
    }
  }
}

TEST(RijndaelErrors, ReportsMisuseWithItsTexts) {
  CRijndael aes;
  uint8_t block[32] = {};
  EXPECT_EQ(aes.EncryptBlock(block, block), RijndaelStatus::kNotInitialized);
  EXPECT_EQ(aes.Encrypt(block, block, 16, CRijndael::kEcb), RijndaelStatus::kNotInitialized);
  EXPECT_STREQ(RijndaelStatusText(RijndaelStatus::kNotInitialized), "Object not Initialized");

  const uint8_t key[32] = {};
  EXPECT_EQ(aes.MakeKey(key, nullptr, 20, 16), RijndaelStatus::kBadKeyLength);
  EXPECT_EQ(aes.MakeKey(key, nullptr, 16, 8), RijndaelStatus::kBadBlockSize);
  EXPECT_FALSE(aes.IsKeyed());
  ASSERT_EQ(aes.MakeKey(key, nullptr, 16, 24), RijndaelStatus::kOk);
  EXPECT_EQ(aes.Decrypt(block, block, 16, CRijndael::kCbc), RijndaelStatus::kNotBlockMultiple);
  EXPECT_STREQ(RijndaelStatusText(RijndaelStatus::kNotBlockMultiple),
               "Data not multiple of Block Size");
}

INSTANTIATE_TEST_SUITE_P(Paths, RijndaelTest, ::testing::Bool(), test::PathName);

}  // namespace
}  // namespace perimo
