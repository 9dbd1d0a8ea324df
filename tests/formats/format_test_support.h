#pragma once
// Shared helpers of the compressed-format tests: sample data, temporary files, and
// compressing or expanding a byte string through the file classes.
#include <cstdint>
#include <string>
#include <vector>

namespace perimo::test {

using Bytes = std::vector<uint8_t>;

Bytes TextData(size_t size, uint32_t seed = 1);
Bytes RandomData(size_t size, uint32_t seed = 2);
// Records of little-endian counters, small floats and a few repeated tags, like the
// project files the workstation sends.
Bytes BinaryData(size_t size, uint32_t seed = 3);
Bytes RepetitiveData(size_t size);
Bytes FromString(const std::string& text);

// A fresh folder removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// The whole file image (header and stream) of data written with the given kind, handed to
// Write in pieces of writeSize bytes (0: all at once).
Bytes Compress(int kind, const Bytes& data, size_t writeSize = 0);

struct Expanded {
  Bytes data;
  bool opened = false;
  bool corrupt = false;
};
// Reads a file image from memory in pieces of readSize bytes until a read returns nothing.
Expanded Expand(int kind, const Bytes& image, size_t readSize);

// A compressed image with its two size fields replaced.
Bytes WithSizes(Bytes image, uint32_t originalSize, uint32_t compressedSize);
// The bit stream of an image (everything after the 16-byte header).
Bytes StreamOf(const Bytes& image);
// An image of a kind from a hand-made bit stream.
Bytes ImageOf(int kind, uint32_t originalSize, const Bytes& stream);

// Packs values MSB-first, as the stream format does, padding the last byte with 0-bits.
class BitPacker {
 public:
  BitPacker& Put(uint32_t value, int bits);
  Bytes Finish() const;

 private:
  std::vector<bool> bits_;
};

// Reads values MSB-first from a bit stream; past the end it yields nothing (Done()).
class BitUnpacker {
 public:
  explicit BitUnpacker(const Bytes& stream) : stream_(stream) {}
  uint32_t Get(int bits);
  bool Done(int bits) const { return position_ + bits > stream_.size() * 8; }

 private:
  const Bytes& stream_;
  size_t position_ = 0;
};

}  // namespace perimo::test
