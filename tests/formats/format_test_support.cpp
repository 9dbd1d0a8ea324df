#include "formats/format_test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "formats/compressed_file.h"

namespace perimo::test {

Bytes TextData(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 800; ++i) {
    std::string word;
    const int length = 2 + static_cast<int>(random() % 9);
    for (int j = 0; j < length; ++j) word += static_cast<char>('a' + random() % 26);
    words.push_back(word);
  }
  Bytes out;
  out.reserve(size + 16);
  int column = 0;
  while (out.size() < size) {
    // Smaller indexes come far more often, as common words do.
    const size_t index = static_cast<size_t>(random() % 800) * (random() % 800) / 800;
    out.insert(out.end(), words[index].begin(), words[index].end());
    column += static_cast<int>(words[index].size()) + 1;
    out.push_back(column > 72 ? '\n' : ' ');
    if (column > 72) column = 0;
  }
  out.resize(size);
  return out;
}

Bytes RandomData(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (uint8_t& byte : out) byte = static_cast<uint8_t>(random());
  return out;
}

Bytes BinaryData(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out;
  out.reserve(size + 32);
  uint32_t counter = 0;
  const char* tags[] = {"TAG_TEMP", "VALVE_01", "PUMP_SPD", "LEVEL_HI"};
  while (out.size() < size) {
    counter += 1 + random() % 3;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(counter >> (8 * i)));
    const float value = static_cast<float>(random() % 1000) / 8.0f;
    const auto* raw = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), raw, raw + sizeof value);
    const char* tag = tags[random() % 4];
    out.insert(out.end(), tag, tag + 8);
    out.push_back(static_cast<uint8_t>(random() % 4 == 0 ? random() : 0));
  }
  out.resize(size);
  return out;
}

Bytes RepetitiveData(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>("abcabcabd"[i % 9]);
  return out;
}

Bytes FromString(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/perimo-formats-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

Bytes Compress(int kind, const Bytes& data, size_t writeSize) {
  TempDir dir;
  const std::string path = dir.Path("packed");
  auto file = CreateCompressedFile(std::string(), kind);
  if (!file->Open(path, CCompressedFile::Mode::kCreate)) throw std::runtime_error("create failed");
  if (writeSize == 0) writeSize = data.size() + 1;
  for (size_t at = 0; at < data.size(); at += writeSize) {
    const size_t n = std::min(writeSize, data.size() - at);
    if (!file->Write(data.data() + at, n)) throw std::runtime_error("write failed");
  }
  if (!file->Close()) throw std::runtime_error("close failed");
  return ReadFileBytes(path);
}

Expanded Expand(int kind, const Bytes& image, size_t readSize) {
  Expanded result;
  auto file = CreateCompressedFile(std::string(), kind);
  result.opened = file->OpenMemory(image.data(), image.size());
  if (!result.opened) return result;
  Bytes chunk(readSize);
  for (;;) {
    const size_t got = file->Read(chunk.data(), readSize);
    if (got == 0) break;
    result.data.insert(result.data.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
  }
  result.corrupt = file->Corrupt();
  return result;
}

Bytes WithSizes(Bytes image, uint32_t originalSize, uint32_t compressedSize) {
  for (int i = 0; i < 4; ++i) {
    image[8 + i] = static_cast<uint8_t>(originalSize >> (8 * i));
    image[12 + i] = static_cast<uint8_t>(compressedSize >> (8 * i));
  }
  return image;
}

Bytes StreamOf(const Bytes& image) {
  return Bytes(image.begin() + 16, image.end());
}

Bytes ImageOf(int kind, uint32_t originalSize, const Bytes& stream) {
  Bytes image(MagicOf(kind), MagicOf(kind) + kMagicSize);
  image.resize(kHeaderSize);
  image.insert(image.end(), stream.begin(), stream.end());
  return WithSizes(image, originalSize, static_cast<uint32_t>(stream.size()));
}

BitPacker& BitPacker::Put(uint32_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1) != 0);
  return *this;
}

Bytes BitPacker::Finish() const {
  Bytes out((bits_.size() + 7) / 8);
  for (size_t i = 0; i < bits_.size(); ++i) {
    if (bits_[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return out;
}

uint32_t BitUnpacker::Get(int bits) {
  uint32_t value = 0;
  for (int i = 0; i < bits; ++i, ++position_) {
    const uint32_t bit = (stream_[position_ / 8] >> (7 - position_ % 8)) & 1;
    value = value << 1 | bit;
  }
  return value;
}

}  // namespace perimo::test
