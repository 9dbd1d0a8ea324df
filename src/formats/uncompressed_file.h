#pragma once
// A plain file through the compressed-file interface: no header, bytes as they are.
#include "formats/compressed_file.h"

namespace perimo {

class CUncompressedFile final : public CCompressedFile {
 public:
  CUncompressedFile() : CCompressedFile(kPlain) {}

 protected:
  bool StartStream(Mode) override { return true; }
  size_t Decode(uint8_t* out, size_t count) override { return byteIn_.Take(out, count); }
  void Encode(const uint8_t* data, size_t count) override { byteOut_.Put(data, count); }
  void EndStream() override {}
};

}  // namespace perimo
