#include "security/rijndael.h"

#include <cstring>

#include "security/aes_instructions.h"
#include "security/cpu_features.h"
#include "security/rijndael_tables.h"

namespace perimo {
namespace {

using rijndael::kTables;

constexpr uint32_t LoadBig(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void StoreBig(uint8_t* p, uint32_t w) {
  p[0] = static_cast<uint8_t>(w >> 24);
  p[1] = static_cast<uint8_t>(w >> 16);
  p[2] = static_cast<uint8_t>(w >> 8);
  p[3] = static_cast<uint8_t>(w);
}

constexpr uint8_t Byte(uint32_t w, int row) {
  return static_cast<uint8_t>(w >> (24 - 8 * row));
}

uint32_t SubWord(uint32_t w) {
  return rijndael::Word(kTables.sbox[Byte(w, 0)], kTables.sbox[Byte(w, 1)],
                        kTables.sbox[Byte(w, 2)], kTables.sbox[Byte(w, 3)]);
}

// InvMixColumns of one column: td of S-box(x) is InvMixColumns of the column (x, 0, 0, 0).
uint32_t InvMixColumn(uint32_t w) {
  return kTables.td[0][kTables.sbox[Byte(w, 0)]] ^ kTables.td[1][kTables.sbox[Byte(w, 1)]] ^
         kTables.td[2][kTables.sbox[Byte(w, 2)]] ^ kTables.td[3][kTables.sbox[Byte(w, 3)]];
}

// ShiftRows moves row r left by these column counts; they depend on the block length.
struct RowShifts {
  int shift[4];
};

constexpr RowShifts ShiftsFor(int columns) {
  return columns == 8 ? RowShifts{{0, 1, 3, 4}} : RowShifts{{0, 1, 2, 3}};
}

void XorInto(uint8_t* dst, const uint8_t* src, int n) {
  for (int i = 0; i < n; ++i) dst[i] ^= src[i];
}

}  // namespace

const char* RijndaelStatusText(RijndaelStatus status) {
  switch (status) {
    case RijndaelStatus::kOk:
      return "";
    case RijndaelStatus::kNotInitialized:
      return "Object not Initialized";
    case RijndaelStatus::kNotBlockMultiple:
      return "Data not multiple of Block Size";
    case RijndaelStatus::kBadKeyLength:
      return "Incorrect Key Length";
    case RijndaelStatus::kBadBlockSize:
      return "Incorrect Block Length";
  }
  return "";
}

RijndaelStatus CRijndael::MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength,
                                  int blockSize) {
  if (keyLength != 16 && keyLength != 24 && keyLength != 32) return RijndaelStatus::kBadKeyLength;
  if (blockSize != 16 && blockSize != 24 && blockSize != 32) return RijndaelStatus::kBadBlockSize;
  if (key == nullptr) return RijndaelStatus::kBadKeyLength;
  keyLength_ = keyLength;
  blockSize_ = blockSize;
  const int keyWords = keyLength / 4;
  const int columns = blockSize / 4;
  rounds_ = (keyWords > columns ? keyWords : columns) + 6;
  std::memset(chain0_, 0, sizeof chain0_);
  if (chain) std::memcpy(chain0_, chain, static_cast<size_t>(blockSize));
  std::memcpy(chain_, chain0_, sizeof chain_);

  // Key expansion over (rounds + 1) × columns words.
  const int total = columns * (rounds_ + 1);
  uint32_t w[(kMaxRounds + 1) * (kMaxBlockSize / 4)];
  for (int i = 0; i < keyWords; ++i) w[i] = LoadBig(key + 4 * i);
  for (int i = keyWords; i < total; ++i) {
    uint32_t t = w[i - 1];
    if (i % keyWords == 0) {
      t = SubWord((t << 8) | (t >> 24)) ^ (uint32_t{kTables.rcon[i / keyWords - 1]} << 24);
    } else if (keyWords > 6 && i % keyWords == 4) {
      t = SubWord(t);
    }
    w[i] = w[i - keyWords] ^ t;
  }
  for (int r = 0; r <= rounds_; ++r) {
    for (int c = 0; c < columns; ++c) {
      encryptKey_[r][c] = w[r * columns + c];
      const uint32_t k = w[(rounds_ - r) * columns + c];
      decryptKey_[r][c] = (r == 0 || r == rounds_) ? k : InvMixColumn(k);
    }
  }
  if (blockSize == 16) {
    for (int r = 0; r <= rounds_; ++r) {
      for (int c = 0; c < 4; ++c) {
        StoreBig(hwEncryptKey_[r] + 4 * c, encryptKey_[r][c]);
        StoreBig(hwDecryptKey_[r] + 4 * c, decryptKey_[r][c]);
      }
    }
  }
  keyed_ = true;
  return RijndaelStatus::kOk;
}

bool CRijndael::HardwareCapable() const {
  return blockSize_ == 16 && UseAesInstructions();
}

namespace {

// The rounds for one block length; with the column count known at compile time the row
// shifts fold into constant indices.
template <int Columns>
void EncryptColumns(const uint32_t (*key)[CRijndael::kMaxBlockSize / 4], int rounds,
                    const uint8_t* in, uint8_t* out) {
  constexpr RowShifts rs = ShiftsFor(Columns);
  uint32_t s[Columns];
  uint32_t t[Columns];
  for (int c = 0; c < Columns; ++c) s[c] = LoadBig(in + 4 * c) ^ key[0][c];
  for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
    for (int c = 0; c < Columns; ++c) {
      t[c] = kTables.te[0][Byte(s[c], 0)] ^ kTables.te[1][Byte(s[(c + rs.shift[1]) % Columns], 1)] ^
             kTables.te[2][Byte(s[(c + rs.shift[2]) % Columns], 2)] ^
             kTables.te[3][Byte(s[(c + rs.shift[3]) % Columns], 3)] ^ key[r][c];
    }
    std::memcpy(s, t, sizeof s);
  }
  for (int c = 0; c < Columns; ++c) {
    const uint32_t v = rijndael::Word(kTables.sbox[Byte(s[c], 0)],
                                      kTables.sbox[Byte(s[(c + rs.shift[1]) % Columns], 1)],
                                      kTables.sbox[Byte(s[(c + rs.shift[2]) % Columns], 2)],
                                      kTables.sbox[Byte(s[(c + rs.shift[3]) % Columns], 3)]);
    StoreBig(out + 4 * c, v ^ key[rounds][c]);
  }
}

template <int Columns>
void DecryptColumns(const uint32_t (*key)[CRijndael::kMaxBlockSize / 4], int rounds,
                    const uint8_t* in, uint8_t* out) {
  constexpr RowShifts rs = ShiftsFor(Columns);
  // InvShiftRows moves row r right, so column c takes row r from column c - shift.
  constexpr int from1 = Columns - rs.shift[1];
  constexpr int from2 = Columns - rs.shift[2];
  constexpr int from3 = Columns - rs.shift[3];
  uint32_t s[Columns];
  uint32_t t[Columns];
  for (int c = 0; c < Columns; ++c) s[c] = LoadBig(in + 4 * c) ^ key[0][c];
  for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
    for (int c = 0; c < Columns; ++c) {
      t[c] = kTables.td[0][Byte(s[c], 0)] ^ kTables.td[1][Byte(s[(c + from1) % Columns], 1)] ^
             kTables.td[2][Byte(s[(c + from2) % Columns], 2)] ^
             kTables.td[3][Byte(s[(c + from3) % Columns], 3)] ^ key[r][c];
    }
    std::memcpy(s, t, sizeof s);
  }
  for (int c = 0; c < Columns; ++c) {
    const uint32_t v = rijndael::Word(kTables.inverseSbox[Byte(s[c], 0)],
                                      kTables.inverseSbox[Byte(s[(c + from1) % Columns], 1)],
                                      kTables.inverseSbox[Byte(s[(c + from2) % Columns], 2)],
                                      kTables.inverseSbox[Byte(s[(c + from3) % Columns], 3)]);
    StoreBig(out + 4 * c, v ^ key[rounds][c]);
  }
}

}  // namespace

void CRijndael::EncryptWords(const uint8_t* in, uint8_t* out) const {
  switch (blockSize_) {
    case 16:
      return EncryptColumns<4>(encryptKey_, rounds_, in, out);
    case 24:
      return EncryptColumns<6>(encryptKey_, rounds_, in, out);
    default:
      return EncryptColumns<8>(encryptKey_, rounds_, in, out);
  }
}

void CRijndael::DecryptWords(const uint8_t* in, uint8_t* out) const {
  switch (blockSize_) {
    case 16:
      return DecryptColumns<4>(decryptKey_, rounds_, in, out);
    case 24:
      return DecryptColumns<6>(decryptKey_, rounds_, in, out);
    default:
      return DecryptColumns<8>(decryptKey_, rounds_, in, out);
  }
}

RijndaelStatus CRijndael::EncryptBlock(const uint8_t* in, uint8_t* out) const {
  if (!keyed_) return RijndaelStatus::kNotInitialized;
  if (HardwareCapable()) {
    aeshw::EncryptEcb(hwEncryptKey_, rounds_, in, out, 1);
  } else {
    EncryptWords(in, out);
  }
  return RijndaelStatus::kOk;
}

RijndaelStatus CRijndael::DecryptBlock(const uint8_t* in, uint8_t* out) const {
  if (!keyed_) return RijndaelStatus::kNotInitialized;
  if (HardwareCapable()) {
    aeshw::DecryptEcb(hwDecryptKey_, rounds_, in, out, 1);
  } else {
    DecryptWords(in, out);
  }
  return RijndaelStatus::kOk;
}

RijndaelStatus CRijndael::CheckBuffer(size_t n) const {
  if (!keyed_) return RijndaelStatus::kNotInitialized;
  if (n % static_cast<size_t>(blockSize_) != 0) return RijndaelStatus::kNotBlockMultiple;
  return RijndaelStatus::kOk;
}

RijndaelStatus CRijndael::EncryptEcb(const uint8_t* in, uint8_t* out, size_t n) const {
  if (const RijndaelStatus s = CheckBuffer(n); s != RijndaelStatus::kOk) return s;
  const size_t block = static_cast<size_t>(blockSize_);
  if (HardwareCapable()) {
    aeshw::EncryptEcb(hwEncryptKey_, rounds_, in, out, n / block);
  } else {
    for (size_t i = 0; i < n; i += block) EncryptWords(in + i, out + i);
  }
  return RijndaelStatus::kOk;
}

RijndaelStatus CRijndael::DecryptEcb(const uint8_t* in, uint8_t* out, size_t n) const {
  if (const RijndaelStatus s = CheckBuffer(n); s != RijndaelStatus::kOk) return s;
  const size_t block = static_cast<size_t>(blockSize_);
  if (HardwareCapable()) {
    aeshw::DecryptEcb(hwDecryptKey_, rounds_, in, out, n / block);
  } else {
    for (size_t i = 0; i < n; i += block) DecryptWords(in + i, out + i);
  }
  return RijndaelStatus::kOk;
}

RijndaelStatus CRijndael::Encrypt(const uint8_t* in, uint8_t* out, size_t n, Mode mode) {
  if (const RijndaelStatus s = CheckBuffer(n); s != RijndaelStatus::kOk) return s;
  const int block = blockSize_;
  switch (mode) {
    case kEcb:
      return EncryptEcb(in, out, n);
    case kCbc:
      for (size_t i = 0; i < n; i += static_cast<size_t>(block)) {
        XorInto(chain_, in + i, block);
        EncryptBlock(chain_, out + i);
        std::memcpy(chain_, out + i, static_cast<size_t>(block));
      }
      break;
    case kCfb:
      for (size_t i = 0; i < n; i += static_cast<size_t>(block)) {
        uint8_t stream[kMaxBlockSize];
        EncryptBlock(chain_, stream);
        XorInto(stream, in + i, block);
        std::memcpy(out + i, stream, static_cast<size_t>(block));
        std::memcpy(chain_, stream, static_cast<size_t>(block));
      }
      break;
  }
  return RijndaelStatus::kOk;
}

RijndaelStatus CRijndael::Decrypt(const uint8_t* in, uint8_t* out, size_t n, Mode mode) {
  if (const RijndaelStatus s = CheckBuffer(n); s != RijndaelStatus::kOk) return s;
  const int block = blockSize_;
  switch (mode) {
    case kEcb:
      return DecryptEcb(in, out, n);
    case kCbc:
      for (size_t i = 0; i < n; i += static_cast<size_t>(block)) {
        uint8_t cipher[kMaxBlockSize];
        std::memcpy(cipher, in + i, static_cast<size_t>(block));
        DecryptBlock(cipher, out + i);
        XorInto(out + i, chain_, block);
        std::memcpy(chain_, cipher, static_cast<size_t>(block));
      }
      break;
    case kCfb:
      for (size_t i = 0; i < n; i += static_cast<size_t>(block)) {
        uint8_t cipher[kMaxBlockSize];
        std::memcpy(cipher, in + i, static_cast<size_t>(block));
        EncryptBlock(chain_, out + i);
        XorInto(out + i, cipher, block);
        std::memcpy(chain_, cipher, static_cast<size_t>(block));
      }
      break;
  }
  return RijndaelStatus::kOk;
}

void CRijndael::ResetChain() {
  std::memcpy(chain_, chain0_, sizeof chain_);
}

}  // namespace perimo
