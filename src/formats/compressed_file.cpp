#include "formats/compressed_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace perimo {
namespace {

constexpr const char* kMagics[] = {"**++HUFF", "**++LZSS", "**++LZW "};
constexpr uint64_t kSizeFieldLimit = 0xFFFFFFFFu;

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteAt(int fd, const uint8_t* data, size_t count, off_t offset) {
  while (count > 0) {
    ssize_t put = ::pwrite(fd, data, count, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    count -= static_cast<size_t>(put);
    offset += put;
  }
  return true;
}

}  // namespace

const char* MagicOf(int kind) {
  return kind >= 0 && kind <= 2 ? kMagics[kind] : nullptr;
}

CCompressedFile::~CCompressedFile() {
  Release();
}

void CCompressedFile::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  open_ = false;
}

bool CCompressedFile::Open(const std::string& path, Mode mode) {
  if (open_ || path.empty()) return false;
  mode_ = mode;
  if (mode == Mode::kRead) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      Release();
      return false;
    }
    byteIn_.AttachFile(fd_);
    if (!ReadHeader(static_cast<uint64_t>(info.st_size)) || !StartStream(mode)) {
      Release();
      return false;
    }
  } else {
    return Create(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  }
  open_ = true;
  return true;
}

bool CCompressedFile::Create(int fd) {
  if (open_ || fd < 0) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  mode_ = Mode::kCreate;
  fd_ = fd;
  byteOut_.AttachFile(fd_);
  if (HasHeader()) {
    uint8_t header[kHeaderSize] = {};
    std::memcpy(header, MagicOf(kind_), kMagicSize);
    byteOut_.Put(header, kHeaderSize);
  }
  if (!StartStream(Mode::kCreate)) {
    Release();
    return false;
  }
  open_ = true;
  return true;
}

bool CCompressedFile::OpenMemory(const void* data, size_t size) {
  if (open_) return false;
  mode_ = Mode::kRead;
  byteIn_.AttachMemory(static_cast<const uint8_t*>(data), size);
  if (!ReadHeader(size) || !StartStream(Mode::kRead)) return false;
  open_ = true;
  return true;
}

bool CCompressedFile::ReadHeader(uint64_t fileLength) {
  if (!HasHeader()) {
    originalSize_ = compressedSize_ = fileLength;
    return true;
  }
  uint8_t header[kHeaderSize];
  if (byteIn_.Take(header, kHeaderSize) != kHeaderSize) return false;
  if (std::memcmp(header, MagicOf(kind_), kMagicSize) != 0) return false;
  originalSize_ = LoadLe32(header + kSizeFieldsOffset);
  compressedSize_ = LoadLe32(header + kSizeFieldsOffset + 4);
  return true;
}

size_t CCompressedFile::Read(void* buffer, size_t count) {
  if (!open_ || mode_ != Mode::kRead || Failed()) return 0;
  if (HasHeader() && count > originalSize_ - delivered_) count = originalSize_ - delivered_;
  if (count == 0) return 0;
  size_t got = Decode(static_cast<uint8_t*>(buffer), count);
  delivered_ += got;
  return got;
}

bool CCompressedFile::Write(const void* data, size_t count) {
  if (!open_ || mode_ != Mode::kCreate) return false;
  if (HasHeader() && count > kSizeFieldLimit - originalSize_) return false;
  if (count > 0) Encode(static_cast<const uint8_t*>(data), count);
  originalSize_ += count;
  return !byteOut_.Failed();
}

bool CCompressedFile::Close() {
  if (!open_) return false;
  bool ok = true;
  if (mode_ == Mode::kCreate) {
    EndStream();
    bitOut_.Finish();
    compressedSize_ = HasHeader() ? bitOut_.BytesProduced() : originalSize_;
    ok = byteOut_.Flush();
    if (ok && HasHeader()) {
      uint8_t sizes[8];
      StoreLe32(sizes, static_cast<uint32_t>(originalSize_));
      StoreLe32(sizes + 4, static_cast<uint32_t>(compressedSize_));
      ok = compressedSize_ <= kSizeFieldLimit &&
           WriteAt(fd_, sizes, sizeof sizes, static_cast<off_t>(kSizeFieldsOffset));
    }
    if (fd_ >= 0 && ::close(fd_) != 0) ok = false;
    fd_ = -1;
  }
  Release();
  return ok;
}

int DetectCompression(const void* data, size_t size) {
  if (size < kMagicSize) return kPlain;
  for (int kind = kHuffman; kind <= kLzw; ++kind) {
    if (std::memcmp(data, kMagics[kind], kMagicSize) == 0) return kind;
  }
  return kPlain;
}

int DetectCompression(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kPlain;
  uint8_t magic[kMagicSize];
  size_t got = 0;
  while (got < kMagicSize) {
    ssize_t n = ::read(fd, magic + got, kMagicSize - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  return DetectCompression(magic, got);
}

}  // namespace perimo
