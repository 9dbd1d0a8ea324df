// Holds the adaptive Huffman coder to a plain one that does everything one node at a time:
// the input, drawn out to a longer plain text that keeps its byte statistics, must be
// written to the same stream bit for bit and read back whole; and the input taken as a
// stream must read to the same bytes with the same verdict on damage.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"
#include "formats/huffman_reference.h"

namespace {

using perimo::test::Bytes;
using perimo::test::ReferenceHuffman;

// Up to 40 KiB: long enough for a rebuild of the tree (one every 32766 counted bytes).
Bytes DrawnOut(const uint8_t* data, size_t size) {
  const size_t target = std::min<size_t>((size - 1) * (1 + data[0] % 128), 40 * 1024);
  Bytes plain;
  plain.reserve(target);
  uint32_t state = data[0] | 1u;
  while (plain.size() < target) {
    state = state * 1103515245u + 12345u;
    // Mostly the input's own bytes, now and then a neighbour of one, so that weights drift
    // and runs of equal weights form and break.
    const uint8_t byte = data[1 + (state >> 8) % (size - 1)];
    plain.push_back((state >> 28) == 0 ? static_cast<uint8_t>(byte + 1) : byte);
  }
  return plain;
}

// The whole file image, written in pieces of `piece` bytes through a file in memory.
Bytes Written(const Bytes& plain, size_t piece) {
  const int fd = ::memfd_create("huffman", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  auto file = perimo::CreateCompressedFile(std::string(), perimo::kHuffman);
  // The file object owns the descriptor it writes to and closes it.
  if (!file->Create(::dup(fd))) std::abort();
  for (size_t at = 0; at < plain.size(); at += piece) {
    if (!file->Write(plain.data() + at, std::min(piece, plain.size() - at))) std::abort();
  }
  if (!file->Close()) std::abort();
  Bytes image(static_cast<size_t>(::lseek(fd, 0, SEEK_END)));
  if (::pread(fd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size())) {
    std::abort();
  }
  ::close(fd);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Bytes plain = DrawnOut(data, size);
  const Bytes image = Written(plain, 1 + data[0] % 4099);
  if (perimo::test::StreamOf(image) != ReferenceHuffman::Encode(plain)) std::abort();
  const perimo::test::Expanded back =
      perimo::test::Expand(perimo::kHuffman, image, 1 + data[size - 1] % 5000);
  if (back.corrupt || back.data != plain) std::abort();

  const Bytes stream(data + 1, data + size);
  constexpr size_t kLimit = 16 * 1024;
  const ReferenceHuffman::Decoded expected = ReferenceHuffman::Decode(stream, kLimit);
  const perimo::test::Expanded out = perimo::test::Expand(
      perimo::kHuffman, perimo::test::ImageOf(perimo::kHuffman, kLimit, stream), kLimit);
  if (out.data != expected.data) std::abort();
  if (out.corrupt != (expected.corrupt || expected.pastEnd)) std::abort();
  return 0;
}
