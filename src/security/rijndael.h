#pragma once
// CRijndael: the AES block cipher engine (Rijndael with 16-, 24- or 32-byte keys and blocks).
// Buffer operations run in ECB, CBC or CFB mode over whole blocks. With 16-byte blocks the
// processor's AES instructions are used when present; the portable tables give the same
// bytes. Errors are returned, never thrown.
#include <cstddef>
#include <cstdint>

namespace perimo {

enum class RijndaelStatus {
  kOk,
  kNotInitialized,    // used before a key was set
  kNotBlockMultiple,  // buffer length not a whole number of blocks
  kBadKeyLength,      // key length other than 16, 24, 32
  kBadBlockSize,      // block length other than 16, 24, 32
};

// "Object not Initialized", "Data not multiple of Block Size", ...
const char* RijndaelStatusText(RijndaelStatus status);

class CRijndael {
 public:
  enum Mode : int { kEcb = 0, kCbc = 1, kCfb = 2 };
  static constexpr int kMaxBlockSize = 32;
  static constexpr int kMaxRounds = 14;

  // Keys the engine; chain is the initial vector of blockSize bytes (null: all zero).
  RijndaelStatus MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength, int blockSize);

  // One block, in and out may be the same buffer.
  RijndaelStatus EncryptBlock(const uint8_t* in, uint8_t* out) const;
  RijndaelStatus DecryptBlock(const uint8_t* in, uint8_t* out) const;

  // n bytes, a whole number of blocks; in and out may be the same buffer. CBC and CFB carry
  // the chain block from call to call until ResetChain.
  RijndaelStatus Encrypt(const uint8_t* in, uint8_t* out, size_t n, Mode mode);
  RijndaelStatus Decrypt(const uint8_t* in, uint8_t* out, size_t n, Mode mode);

  // ECB needs no chain, so a keyed engine can serve it from const code.
  RijndaelStatus EncryptEcb(const uint8_t* in, uint8_t* out, size_t n) const;
  RijndaelStatus DecryptEcb(const uint8_t* in, uint8_t* out, size_t n) const;

  void ResetChain();

  bool IsKeyed() const { return keyed_; }
  int KeyLength() const { return keyLength_; }
  int BlockSize() const { return blockSize_; }
  int Rounds() const { return rounds_; }

 private:
  RijndaelStatus CheckBuffer(size_t n) const;
  void EncryptWords(const uint8_t* in, uint8_t* out) const;
  void DecryptWords(const uint8_t* in, uint8_t* out) const;
  bool HardwareCapable() const;

  bool keyed_ = false;
  int keyLength_ = 0;
  int blockSize_ = 0;
  int rounds_ = 0;
  uint8_t chain0_[kMaxBlockSize] = {};
  uint8_t chain_[kMaxBlockSize] = {};
  // Round keys as big-endian column words; the decryption keys are those of the
  // equivalent inverse cipher (InvMixColumns applied), in reverse order.
  uint32_t encryptKey_[kMaxRounds + 1][kMaxBlockSize / 4] = {};
  uint32_t decryptKey_[kMaxRounds + 1][kMaxBlockSize / 4] = {};
  // The same round keys as bytes for the AES instructions (16-byte blocks only).
  alignas(16) uint8_t hwEncryptKey_[kMaxRounds + 1][16] = {};
  alignas(16) uint8_t hwDecryptKey_[kMaxRounds + 1][16] = {};
};

}  // namespace perimo
