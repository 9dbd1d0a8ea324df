#include "formats/compressed_file.h"
#include "formats/huffman_file.h"
#include "formats/lzss_file.h"
#include "formats/lzw_file.h"
#include "formats/uncompressed_file.h"

namespace perimo {

std::unique_ptr<CCompressedFile> CreateCompressedFile(const std::string& path, int kind) {
  if (!path.empty()) kind = DetectCompression(path);
  switch (kind) {
    case kHuffman:
      return std::make_unique<CHuffmanFile>();
    case kLzss:
      return std::make_unique<CLzssFile>();
    case kLzw:
      return std::make_unique<CLzwFile>();
    default:
      return std::make_unique<CUncompressedFile>();
  }
}

}  // namespace perimo
