#include "security/aes_crypto_library.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "security/crypto_test_util.h"
#include "security/link_cipher.h"

namespace perimo {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

std::vector<uint8_t> OpenSslEcbDecrypt(const std::array<uint8_t, 16>& key,
                                       const std::vector<uint8_t>& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<uint8_t> out(in.size() + 16);
  int n = 0, tail = 0;
  EVP_DecryptUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_DecryptFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + tail));
  return out;
}

class AesLibraryTest : public test::AccelerationParam {};

TEST_P(AesLibraryTest, LengthSuffixedLayout) {
  const CAESCryptoLibrary aes(u"some key text");
  for (auto [plainLength, cipherLength] :
       {std::pair{12, 16}, {13, 32}, {16, 32}, {28, 32}, {29, 48}, {44, 48}, {1, 16}}) {
    const auto plain = Bytes(static_cast<size_t>(plainLength));
    std::vector<uint8_t> cipher;
    ASSERT_TRUE(aes.Encrypt(plain, cipher));
    ASSERT_EQ(cipher.size(), static_cast<size_t>(cipherLength)) << plainLength;

    // Independently decrypted: plaintext, zero fill, then L little-endian in the last 4.
    auto opened = OpenSslEcbDecrypt(CAESCryptoLibrary::DeriveKey(u"some key text"), cipher);
    std::vector<uint8_t> expected = plain;
    expected.resize(cipher.size() - 4, 0);
    for (int i = 0; i < 4; ++i) expected.push_back(static_cast<uint8_t>(plainLength >> (8 * i)));
    EXPECT_EQ(opened, expected);

    std::vector<uint8_t> back;
    ASSERT_TRUE(aes.Decrypt(cipher, back));
    EXPECT_EQ(back, plain);
  }
}

TEST_P(AesLibraryTest, DecryptRejectsBadLengths) {
  const CAESCryptoLibrary aes(u"k");
  std::vector<uint8_t> out;
  EXPECT_FALSE(aes.Decrypt({}, out));
  EXPECT_FALSE(aes.Decrypt(Bytes(15), out));
  EXPECT_FALSE(aes.Decrypt(Bytes(17), out));

  // A length field larger than the chunk, or negative, does not decrypt.
  for (int32_t field : {33, -1, INT32_MIN}) {
    std::vector<uint8_t> block(32, 0);
    for (int i = 0; i < 4; ++i) block[28 + i] = static_cast<uint8_t>(field >> (8 * i));
    CAESCryptoLibrary raw(u"k", true);
    std::vector<uint8_t> cipher;
    ASSERT_TRUE(raw.Encrypt(block, cipher));
    EXPECT_FALSE(aes.Decrypt(cipher, out)) << field;
  }
}

TEST_P(AesLibraryTest, RawModeNeedsWholeBlocks) {
  const CAESCryptoLibrary raw(u"k", true);
  std::vector<uint8_t> cipher;
  EXPECT_FALSE(raw.Encrypt(Bytes(20), cipher));
  ASSERT_TRUE(raw.Encrypt(Bytes(32), cipher));
  EXPECT_EQ(cipher.size(), 32u);
  std::vector<uint8_t> back;
  ASSERT_TRUE(raw.Decrypt(cipher, back));
  EXPECT_EQ(back, Bytes(32));
}

TEST(AesKeyDerivation, UsesTheFirstSixteenNonZeroBytes) {
  using Key = std::array<uint8_t, 16>;
  EXPECT_EQ(CAESCryptoLibrary::DeriveKey(u""), Key{});
  EXPECT_EQ(CAESCryptoLibrary::DeriveKey(u"abcdefghijklmnopqrst"),
            CAESCryptoLibrary::DeriveKey(u"abcdefghijklmnop"));
  EXPECT_EQ(CAESCryptoLibrary::DeriveKey(u"hello"),
            (Key{'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // Both bytes of a wide character count, zero bytes are skipped.
  EXPECT_EQ(CAESCryptoLibrary::DeriveKey(u"\u0141a"), (Key{0x41, 0x01, 'a'}));

  // Same key, same ciphertext.
  const auto plain = Bytes(40);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(CAESCryptoLibrary(u"abcdefghijklmnopqrst").Encrypt(plain, a));
  ASSERT_TRUE(CAESCryptoLibrary(u"abcdefghijklmnop").Encrypt(plain, b));
  EXPECT_EQ(a, b);
}

TEST(AesAssignment, TakesTheKeyButKeepsRawMode) {
  CAESCryptoLibrary raw(u"old", true);
  raw = CAESCryptoLibrary(u"new key", false);
  EXPECT_TRUE(raw.RawMode());
  EXPECT_EQ(raw.KeyText(), u"new key");
  std::vector<uint8_t> viaAssigned, viaFresh;
  ASSERT_TRUE(raw.Encrypt(Bytes(16), viaAssigned));
  ASSERT_TRUE(CAESCryptoLibrary(u"new key", true).Encrypt(Bytes(16), viaFresh));
  EXPECT_EQ(viaAssigned, viaFresh);
}

TEST_P(AesLibraryTest, HexadecimalForms) {
  const CAESCryptoLibrary aes(u"5b2e0c71-4d9a-4e3f-8c61-27a0f4d9b3e8");
  for (std::u16string text :
       {u"", u"12/31/2026 23:59:59 7", u"12/31/2026 23:59:59 32767", u"\u00e9\u4e2d text"}) {
    const std::u16string hex = aes.EncryptToHex(text);
    const size_t n = static_cast<size_t>(
        CAESCryptoLibrary::SuffixedLength(static_cast<int64_t>((text.size() + 1) * 2)));
    EXPECT_EQ(hex.size(), 2 * n);
    EXPECT_EQ(hex.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos);
    EXPECT_EQ(aes.DecryptFromHex(hex), text);
  }
  // Link keys of 21 and of 22 to 25 characters give 96 and 128 digits.
  EXPECT_EQ(aes.EncryptToHex(u"01/02/2026 03:04:05 6").size(), 96u);
  EXPECT_EQ(aes.EncryptToHex(u"01/02/2026 03:04:05 12345").size(), 128u);

  // Wrong key, odd digit, junk: the input comes back unchanged.
  const std::u16string hex = aes.EncryptToHex(u"secret");
  EXPECT_EQ(aes.DecryptFromHex(hex + u"7"), u"secret");
  EXPECT_EQ(aes.DecryptFromHex(u"not hex at all!!"), u"not hex at all!!");
  EXPECT_EQ(aes.DecryptFromHex(u"0011"), u"0011");
  const CAESCryptoLibrary other(u"another key");
  const std::u16string wrong = other.DecryptFromHex(hex);
  EXPECT_NE(wrong, u"secret");
}

TEST_P(AesLibraryTest, LinkFramesRoundTripInPlace) {
  LinkCipher cipher;
  cipher = CAESCryptoLibrary(u"01/02/2026 03:04");
  std::mt19937 rng(42);
  for (int length : {1, 2, 11, 12, 13, 100, 4096, 130048}) {
    const auto reply = test::RandomBytes(rng, static_cast<size_t>(length));
    const int32_t needed = LinkCipher::EncryptedLength(length);
    std::vector<uint8_t> buffer(static_cast<size_t>(needed));
    std::copy(reply.begin(), reply.end(), buffer.begin());
    // Too small an output buffer sends nothing.
    EXPECT_EQ(cipher.EncryptFrame(buffer.data(), length, buffer.data(), needed - 1), 0);
    ASSERT_EQ(cipher.EncryptFrame(buffer.data(), length, buffer.data(), needed), needed);
    EXPECT_EQ(cipher.EncryptFrame(reply), buffer);
    ASSERT_EQ(cipher.DecryptFrame(buffer.data(), needed), length);
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), buffer.begin()));
  }
  uint8_t junk[20] = {};
  EXPECT_EQ(cipher.DecryptFrame(junk, 20), 0);
  EXPECT_EQ(cipher.DecryptFrame(junk, 0), 0);
  EXPECT_EQ(cipher.DecryptFrame(nullptr, 16), 0);
  EXPECT_EQ(cipher.EncryptFrame(junk, -1, junk, 20), 0);
  EXPECT_EQ(LinkCipher::EncryptedLength(-5), 0);
  // An empty frame decrypts to nothing and counts as a failure.
  std::vector<uint8_t> empty;
  ASSERT_TRUE(cipher.Encrypt({}, empty));
  EXPECT_EQ(cipher.DecryptFrame(empty.data(), static_cast<int32_t>(empty.size())), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, AesLibraryTest, ::testing::Bool(), test::PathName);

}  // namespace
}  // namespace perimo
