#pragma once
// Buffered byte I/O and the MSB-first bit reader and writer under every compressed kind.
// A bit stream fills each byte from 0x80 down to 0x01; an n-bit value goes most significant
// bit first.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace perimo {

// Files move through one buffer of this size in each direction.
inline constexpr size_t kIoBufferSize = 32000;

// Bytes of a file opened for reading, or of a block held in memory.
class ByteInput {
 public:
  void AttachFile(int fd);
  void AttachMemory(const uint8_t* data, size_t size);
  // Loads the next block; false at the end of the data or on a read error.
  bool Fill();
  // Copies up to count raw bytes; fewer only at the end of the data.
  size_t Take(uint8_t* out, size_t count);

  const uint8_t* pos = nullptr;
  const uint8_t* end = nullptr;
  bool ioError = false;

 private:
  int fd_ = -1;
  std::unique_ptr<uint8_t[]> buffer_;
};

// Bytes of a file opened for writing.
class ByteOutput {
 public:
  void AttachFile(int fd);
  void Put(const uint8_t* data, size_t count);
  void PutByte(uint8_t byte) {
    if (fill_ == kIoBufferSize) Flush();
    buffer_[fill_++] = byte;
  }
  // Writes the buffer out; false once any write has failed.
  bool Flush();
  bool Failed() const { return ioError_; }

 private:
  void WriteAll(const uint8_t* data, size_t count);

  int fd_ = -1;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t fill_ = 0;
  bool ioError_ = false;
};

// Reads bits from a ByteInput through a 64-bit window. Past the end of the data it yields
// 1-bits, as the stream format defines, and remembers that it did so: a whole stream never
// needs them, so a decoder that consumed one has been handed a cut or corrupt stream.
class BitReader {
 public:
  explicit BitReader(ByteInput* input = nullptr) : input_(input) {}
  void Attach(ByteInput* input) { input_ = input; }

  // Ensures at least 32 bits are buffered.
  void Need32() {
    if (count_ < 32) Refill();
  }
  // Takes n bits (1..32) after Need32 without checking the buffer.
  uint32_t TakeBuffered(int n) {
    uint32_t value = static_cast<uint32_t>(bits_ >> (64 - n));
    bits_ <<= n;
    count_ -= n;
    return value;
  }
  uint32_t Get(int n) {
    Need32();
    return TakeBuffered(n);
  }
  uint32_t GetBit() {
    if (count_ == 0) Refill();
    return TakeBuffered(1);
  }
  bool PastEnd() const { return overrun_ || count_ < fake_; }

 private:
  void Refill();

  ByteInput* input_;
  uint64_t bits_ = 0;  // next bit at bit 63
  int count_ = 0;      // bits held in bits_
  int fake_ = 0;       // trailing bits of bits_ that lie past the end of the data
  bool overrun_ = false;
};

// Collects bits MSB-first and hands whole bytes to a ByteOutput, counting them.
class BitWriter {
 public:
  explicit BitWriter(ByteOutput* output = nullptr) : output_(output) {}
  void Attach(ByteOutput* output) { output_ = output; }

  // Appends the low n bits (1..32) of value.
  void Put(uint32_t value, int n) {
    bits_ |= static_cast<uint64_t>(value & (0xFFFFFFFFu >> (32 - n))) << (64 - count_ - n);
    count_ += n;
    if (count_ >= 32) Drain();
  }
  // Writes the last partial byte padded with 0-bits.
  void Finish();
  uint64_t BytesProduced() const { return produced_; }

 private:
  void Drain();

  ByteOutput* output_;
  uint64_t bits_ = 0;  // pending bits from bit 63 down
  int count_ = 0;
  uint64_t produced_ = 0;
};

}  // namespace perimo
