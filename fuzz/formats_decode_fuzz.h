#pragma once
// Shared body of the decoder fuzz targets. Input: a 4-byte little-endian originalSize
// followed by the bit stream; the header around it is built here so every run reaches the
// decoder. The stream is expanded twice, in large and in odd-sized reads, with the output
// bounded; both must agree, whatever the stream holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/compressed_file.h"

namespace perimo::fuzz {

// Enough to pass several window, dictionary and tree resets.
inline constexpr size_t kMaxOutput = 256 * 1024;

struct Decoded {
  std::vector<uint8_t> bytes;
  bool corrupt = false;
};

inline Decoded DecodeInPieces(int kind, const std::vector<uint8_t>& image, size_t piece) {
  Decoded result;
  auto file = CreateCompressedFile(std::string(), kind);
  if (!file->OpenMemory(image.data(), image.size())) std::abort();
  std::vector<uint8_t> chunk(piece);
  while (result.bytes.size() < kMaxOutput) {
    const size_t got = file->Read(chunk.data(), piece);
    if (got == 0) break;
    if (got > piece) std::abort();
    result.bytes.insert(result.bytes.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
  }
  if (result.bytes.size() > file->OriginalSize()) std::abort();
  result.corrupt = file->Corrupt();
  return result;
}

inline int FuzzDecoder(int kind, const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  std::vector<uint8_t> image(MagicOf(kind), MagicOf(kind) + kMagicSize);
  image.insert(image.end(), data, data + 4);  // originalSize
  const uint32_t streamSize = static_cast<uint32_t>(size - 4);
  for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(streamSize >> (8 * i)));
  image.insert(image.end(), data + 4, data + size);

  const Decoded whole = DecodeInPieces(kind, image, 4096);
  const Decoded pieces = DecodeInPieces(kind, image, 1 + data[0] % 61);
  // Both runs decode the same bytes for as long as both go on. Once a stream is found
  // corrupt, reads stop at the end of the read that found it, so the lengths may differ.
  const size_t common = std::min(whole.bytes.size(), pieces.bytes.size());
  if (common > 0 && std::memcmp(whole.bytes.data(), pieces.bytes.data(), common) != 0) {
    std::abort();
  }
  if (whole.bytes.size() < kMaxOutput && pieces.bytes.size() < kMaxOutput) {
    if (whole.corrupt != pieces.corrupt) std::abort();
    if (!whole.corrupt && whole.bytes.size() != pieces.bytes.size()) std::abort();
  }
  return 0;
}

}  // namespace perimo::fuzz
