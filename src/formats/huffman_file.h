#pragma once
// Adaptive Huffman coding ("**++HUFF"). A byte's first occurrence is sent as the escape
// code followed by the byte in 8 bits; the end code closes the stream.
#include "formats/compressed_file.h"
#include "formats/huffman_model.h"

namespace perimo {

class CHuffmanFile final : public CCompressedFile {
 public:
  CHuffmanFile() : CCompressedFile(kHuffman) {}

 protected:
  bool StartStream(Mode mode) override;
  size_t Decode(uint8_t* out, size_t count) override;
  void Encode(const uint8_t* data, size_t count) override;
  void EndStream() override;

 private:
  // The end code, the escape code and its byte, or a walk too deep: the byte to put out,
  // or -1 when decoding stops. Takes and leaves the bit window in bitIn_, so that Decode's
  // copy of it can stay in registers.
  [[gnu::noinline]] int DecodeSpecial(int symbol);

  HuffmanModel model_;
  bool ended_ = false;
};

}  // namespace perimo
