#include "formats/lzw_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace perimo {

// Indexed by code. A string is found by following parent codes down to its first byte;
// its length and first byte are kept so it can be written back to front in one pass.
struct CLzwFile::DecoderTables {
  static constexpr size_t kCodes = kLzwMaxCode + 1;
  uint16_t parent[kCodes];
  uint16_t length[kCodes];
  uint8_t last[kCodes];
  uint8_t first[kCodes];
  uint8_t pending[kCodes];
};

struct CLzwFile::EncoderTable {
  int16_t code[kLzwTableSize];  // -1: empty slot
  uint16_t parent[kLzwTableSize];
  uint8_t byte[kLzwTableSize];
};

CLzwFile::CLzwFile() : CCompressedFile(kLzw) {}
CLzwFile::~CLzwFile() = default;

bool CLzwFile::StartStream(Mode mode) {
  if (mode == Mode::kRead) {
    decoder_.reset(new (std::nothrow) DecoderTables);
    if (!decoder_) return false;
    for (uint32_t b = 0; b < 256; ++b) {
      decoder_->parent[b] = 0;
      decoder_->length[b] = 1;
      decoder_->last[b] = decoder_->first[b] = static_cast<uint8_t>(b);
    }
    ResetDecoder();
    pendingLeft_ = 0;
    ended_ = false;
  } else {
    encoder_.reset(new (std::nothrow) EncoderTable);
    if (!encoder_) return false;
    ResetEncoder();
    current_ = -1;
  }
  return true;
}

void CLzwFile::ResetDecoder() {
  nextCode_ = kLzwFirstCode;
  width_ = kLzwStartBits;
  previous_ = -1;
}

size_t CLzwFile::Decode(uint8_t* out, size_t count) {
  DecoderTables& t = *decoder_;
  size_t done = std::min<size_t>(pendingLeft_, count);
  std::memcpy(out, t.pending + pendingFrom_, done);
  pendingFrom_ += static_cast<uint32_t>(done);
  pendingLeft_ -= static_cast<uint32_t>(done);
  BitWindow bits = bitIn_.Save();
  while (done < count && !ended_) {
    if (bits.count < 32) bits = bitIn_.Refilled(bits);
    const uint32_t code = bits.Take(width_);
    if (code == kLzwEndCode) {
      ended_ = true;
      break;
    }
    if (previous_ < 0) {
      // The first code after a start is always a byte.
      if (code > 255) {
        MarkCorrupt();
        break;
      }
      out[done++] = static_cast<uint8_t>(code);
      previous_ = static_cast<int32_t>(code);
      continue;
    }
    if (code == kLzwFlushCode) {
      ResetDecoder();
      continue;
    }
    if (code == kLzwBumpCode) {
      if (width_ == kLzwMaxBits) {
        MarkCorrupt();
        break;
      }
      ++width_;
      continue;
    }
    // A code equal to the next free one is the previous string plus its own first byte;
    // anything above it, or a dictionary already full, is a corrupt stream.
    if (code > nextCode_ || nextCode_ > kLzwMaxCode) {
      MarkCorrupt();
      break;
    }
    const uint32_t previous = static_cast<uint32_t>(previous_);
    t.parent[nextCode_] = static_cast<uint16_t>(previous);
    t.last[nextCode_] = t.first[code == nextCode_ ? previous : code];
    t.first[nextCode_] = t.first[previous];
    t.length[nextCode_] = static_cast<uint16_t>(t.length[previous] + 1);
    ++nextCode_;

    const uint32_t length = t.length[code];
    const bool fits = length <= count - done;
    uint8_t* const target = fits ? out + done : t.pending;
    uint32_t walk = code;
    for (uint32_t i = length - 1; i > 0; --i) {
      target[i] = t.last[walk];
      walk = t.parent[walk];
    }
    target[0] = static_cast<uint8_t>(walk);
    if (fits) {
      done += length;
    } else {
      const size_t part = count - done;
      std::memcpy(out + done, t.pending, part);
      done = count;
      pendingFrom_ = static_cast<uint32_t>(part);
      pendingLeft_ = static_cast<uint32_t>(length - part);
    }
    previous_ = static_cast<int32_t>(code);
  }
  bitIn_.Restore(bits);
  return done;
}

void CLzwFile::ResetEncoder() {
  std::memset(encoder_->code, 0xFF, sizeof encoder_->code);
  nextCode_ = kLzwFirstCode;
  width_ = kLzwStartBits;
  bumpLimit_ = (1u << kLzwStartBits) - 1;
}

int CLzwFile::FindSlot(uint32_t parent, uint8_t byte) const {
  const EncoderTable& t = *encoder_;
  int index = static_cast<int>((static_cast<uint32_t>(byte) << (kLzwMaxBits - 8)) ^ parent);
  const int step = index == 0 ? 1 : kLzwTableSize - index;
  for (;;) {
    if (t.code[index] == -1) return index;
    if (t.parent[index] == parent && t.byte[index] == byte) return index;
    index -= step;
    if (index < 0) index += kLzwTableSize;
  }
}

void CLzwFile::Encode(const uint8_t* data, size_t count) {
  EncoderTable& t = *encoder_;
  size_t i = 0;
  if (current_ < 0) current_ = data[i++];
  for (; i < count; ++i) {
    const uint8_t byte = data[i];
    const int slot = FindSlot(static_cast<uint32_t>(current_), byte);
    if (t.code[slot] != -1) {
      current_ = t.code[slot];
      continue;
    }
    t.code[slot] = static_cast<int16_t>(nextCode_++);
    t.parent[slot] = static_cast<uint16_t>(current_);
    t.byte[slot] = byte;
    bitOut_.Put(static_cast<uint32_t>(current_), width_);
    current_ = byte;
    if (nextCode_ > kLzwMaxCode) {
      bitOut_.Put(kLzwFlushCode, width_);
      ResetEncoder();
    } else if (nextCode_ > bumpLimit_) {
      bitOut_.Put(kLzwBumpCode, width_);
      ++width_;
      bumpLimit_ = bumpLimit_ * 2 + 1;
    }
  }
}

void CLzwFile::EndStream() {
  bitOut_.Put(current_ < 0 ? 0 : static_cast<uint32_t>(current_), width_);
  bitOut_.Put(kLzwEndCode, width_);
}

}  // namespace perimo
