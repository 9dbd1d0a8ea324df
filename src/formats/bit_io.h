#pragma once
// Buffered byte I/O and the MSB-first bit reader and writer under every compressed kind.
// A bit stream fills each byte from 0x80 down to 0x01; an n-bit value goes most significant
// bit first.
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Up to 64 bits read ahead, the next at bit 63. Decoders keep one in local variables
// through their loops and hand it back to the BitReader when they stop.
struct BitWindow {
  uint64_t bits = 0;
  int count = 0;

  // Takes n bits (1..32); the caller has made sure they are there.
  uint32_t Take(int n) {
    const uint32_t value = static_cast<uint32_t>(bits >> (64 - n));
    bits <<= n;
    count -= n;
    return value;
  }
  // Drops n bits (0..32) that the caller has already looked at.
  void Skip(int n) {
    bits <<= n;
    count -= n;
  }
};

// Reads bits from a ByteInput. Past the end of the data it yields 1-bits, as the stream
// format defines, and remembers that it did so: a whole stream never needs them, so a
// decoder that consumed one has been handed a cut or corrupt stream.
class BitReader {
 public:
  explicit BitReader(ByteInput* input = nullptr) : input_(input) {}

  BitWindow Save() const { return window_; }
  void Restore(BitWindow window) { window_ = window; }
  // The window with at least 33 bits in it, loaded from the input.
  BitWindow Refilled(BitWindow window);
  // Refilled with its common case inline, for loops that must not make calls: eight
  // bytes of the buffer at once, the bytes not counted yet loaded again by the next refill.
  BitWindow RefilledInline(BitWindow window) {
    if (fake_ != 0 || input_->end - input_->pos < 8) return Refilled(window);
    return LoadedWord(window);
  }

  uint32_t Get(int n) {
    if (window_.count < 32) window_ = Refilled(window_);
    return window_.Take(n);
  }
  bool PastEnd() const { return overrun_ || window_.count < fake_; }

 private:
  // Loads eight bytes at once from an input holding at least eight; the bytes not counted
  // yet are loaded again, to the same bit positions, by the next refill.
  BitWindow LoadedWord(BitWindow window) {
    uint64_t word;
    std::memcpy(&word, input_->pos, 8);
    window.bits |= __builtin_bswap64(word) >> window.count;
    const int bytes = (63 - window.count) >> 3;
    input_->pos += bytes;
    window.count += bytes * 8;
    return window;
  }

  ByteInput* input_;
  BitWindow window_;
  int fake_ = 0;  // trailing bits of the window that lie past the end of the data
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
