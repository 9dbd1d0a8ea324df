#pragma once
// LZW with growing code width ("**++LZW "). Codes 0-255 are bytes; 256 ends the stream,
// 257 widens the code by one bit (9 up to 15), 258 starts the dictionary again.
#include <memory>

#include "formats/compressed_file.h"

namespace perimo {

inline constexpr uint32_t kLzwEndCode = 256;
inline constexpr uint32_t kLzwBumpCode = 257;
inline constexpr uint32_t kLzwFlushCode = 258;
inline constexpr uint32_t kLzwFirstCode = 259;
inline constexpr int kLzwStartBits = 9;
inline constexpr int kLzwMaxBits = 15;
inline constexpr uint32_t kLzwMaxCode = (1u << kLzwMaxBits) - 1;
// Slots of the encoder's open-addressed dictionary (a prime above 32768).
inline constexpr int kLzwTableSize = 35023;

class CLzwFile final : public CCompressedFile {
 public:
  CLzwFile();
  ~CLzwFile() override;

 protected:
  bool StartStream(Mode mode) override;
  size_t Decode(uint8_t* out, size_t count) override;
  void Encode(const uint8_t* data, size_t count) override;
  void EndStream() override;

 private:
  struct DecoderTables;
  struct EncoderTable;

  void ResetDecoder();
  void ResetEncoder();
  int FindSlot(uint32_t parent, uint8_t byte) const;

  std::unique_ptr<DecoderTables> decoder_;
  std::unique_ptr<EncoderTable> encoder_;
  uint32_t nextCode_ = kLzwFirstCode;
  int width_ = kLzwStartBits;

  // Decoder: the previous code (-1 right after a start), the part of the last string that
  // did not fit the caller's buffer, and whether the end code came.
  int32_t previous_ = -1;
  uint32_t pendingFrom_ = 0;
  uint32_t pendingLeft_ = 0;
  bool ended_ = false;

  // Encoder: the code of the string matched so far (-1 before the first byte).
  int32_t current_ = -1;
  uint32_t bumpLimit_ = 0;
};

}  // namespace perimo
