#pragma once
// A file that reads (expands) and writes (compresses) through one of the compression kinds.
//
// Layout of a compressed file (little-endian):
//   0  8  magic "**++HUFF", "**++LZSS" or "**++LZW " (kind 0, 1, 2)
//   8  4  originalSize: bytes of plain data
//  12  4  compressedSize: bytes of the bit stream that follows
//  16  .. the bit stream
// A plain file (kind -1) has no header; both sizes are its length.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "formats/bit_io.h"

namespace perimo {

enum CompressionKind : int { kPlain = -1, kHuffman = 0, kLzss = 1, kLzw = 2 };

inline constexpr size_t kMagicSize = 8;
inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kSizeFieldsOffset = 8;

// The magic of a compressed kind, kMagicSize bytes without terminator; nullptr for others.
const char* MagicOf(int kind);

class CCompressedFile {
 public:
  enum class Mode { kRead, kCreate };

  explicit CCompressedFile(int kind) : kind_(kind) {}
  CCompressedFile(const CCompressedFile&) = delete;
  CCompressedFile& operator=(const CCompressedFile&) = delete;
  // Releases the file; a written stream not closed with Close() is left unfinished.
  virtual ~CCompressedFile();

  // Reading checks the magic of this kind and loads the size fields; creating writes the
  // magic and two zero size fields (a plain file gets no header).
  bool Open(const std::string& path, Mode mode);
  // Creates the file on a descriptor opened for writing by the caller, who made it safely
  // (exclusively, not through a link); the object owns and closes it, also on failure.
  bool Create(int fd);
  // Reads a file image held in memory; the memory must outlive the object.
  bool OpenMemory(const void* data, size_t size);

  // Delivers up to count plain bytes, never more than originalSize in all; fewer when the
  // stream ends or turns out corrupt (see Failed).
  size_t Read(void* buffer, size_t count);
  // Compresses count bytes; false when the file is not open for writing, a write failed, or
  // originalSize would pass its 32-bit field.
  bool Write(const void* data, size_t count);
  // Ends the stream; for a written file writes out the last bytes and the two size fields.
  bool Close();

  int Kind() const { return kind_; }
  uint64_t OriginalSize() const { return originalSize_; }
  uint64_t CompressedSize() const { return compressedSize_; }
  uint64_t Delivered() const { return delivered_; }
  // The stream broke a rule of its format, or needed bits past the end of the file.
  bool Corrupt() const { return corrupt_ || bitIn_.PastEnd(); }
  // Corrupt, or a read or write of the file failed.
  bool Failed() const { return Corrupt() || byteIn_.ioError || byteOut_.Failed(); }

 protected:
  // Sets up the decoder or encoder tables after the header; false when memory is short.
  virtual bool StartStream(Mode mode) = 0;
  // Decodes up to count (> 0) bytes; returns fewer at the end code or on MarkCorrupt().
  virtual size_t Decode(uint8_t* out, size_t count) = 0;
  virtual void Encode(const uint8_t* data, size_t count) = 0;
  // Sends the end code of a written stream.
  virtual void EndStream() = 0;

  void MarkCorrupt() { corrupt_ = true; }
  bool HasHeader() const { return kind_ >= 0; }

  ByteInput byteIn_;
  ByteOutput byteOut_;
  BitReader bitIn_{&byteIn_};
  BitWriter bitOut_{&byteOut_};

 private:
  bool ReadHeader(uint64_t fileLength);
  void Release();

  int kind_;
  int fd_ = -1;
  bool open_ = false;
  Mode mode_ = Mode::kRead;
  uint64_t originalSize_ = 0;
  uint64_t compressedSize_ = 0;
  uint64_t delivered_ = 0;
  bool corrupt_ = false;
};

// The kind named by the file's magic: 0, 1, 2, or -1 when the file cannot be opened, is
// shorter than 8 bytes or has no known magic.
int DetectCompression(const std::string& path);
int DetectCompression(const void* data, size_t size);

// A file object for the detected kind of path, or for kind when path is empty; kinds other
// than 0, 1, 2 give CUncompressedFile.
std::unique_ptr<CCompressedFile> CreateCompressedFile(const std::string& path, int kind);

}  // namespace perimo
