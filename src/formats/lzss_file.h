#pragma once
// LZSS over a 4096-byte window ("**++LZSS"). Tokens: 1 + 8-bit literal, or
// 0 + 12-bit window position + 4-bit (length - 2); 0 + position 0 ends the stream.
#include <memory>

#include "formats/compressed_file.h"
#include "formats/lzss_matcher.h"

namespace perimo {

class CLzssFile final : public CCompressedFile {
 public:
  CLzssFile() : CCompressedFile(kLzss) {}

 protected:
  bool StartStream(Mode mode) override;
  size_t Decode(uint8_t* out, size_t count) override;
  void Encode(const uint8_t* data, size_t count) override;
  void EndStream() override;

 private:
  void Begin();
  void Advance(int byte);
  void SendToken();

  // Decoder: window, write position, and the rest of a copy that did not fit the caller.
  std::unique_ptr<uint8_t[]> window_;
  unsigned position_ = 1;
  unsigned copyFrom_ = 0;
  unsigned copyLeft_ = 0;
  bool ended_ = false;

  // Encoder.
  std::unique_ptr<LzssMatcher> matcher_;
  int filled_ = 0;  // input bytes taken into the first look-ahead
  bool started_ = false;
  int lookAhead_ = 0;
  int matchLength_ = 0;
  int matchPosition_ = 0;
  int replaceLeft_ = 0;
};

}  // namespace perimo
