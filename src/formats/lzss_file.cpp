#include "formats/lzss_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace perimo {

bool CLzssFile::StartStream(Mode mode) {
  if (mode == Mode::kRead) {
    window_.reset(new (std::nothrow) uint8_t[kLzssWindowSize]);
    if (!window_) return false;
    std::memset(window_.get(), 0, kLzssWindowSize);
    position_ = 1;
    copyLeft_ = 0;
    ended_ = false;
  } else {
    matcher_.reset(new (std::nothrow) LzssMatcher);
    if (!matcher_) return false;
    filled_ = 0;
    started_ = false;
  }
  return true;
}

size_t CLzssFile::Decode(uint8_t* out, size_t count) {
  uint8_t* const window = window_.get();
  unsigned position = position_;
  size_t done = 0;
  while (copyLeft_ > 0 && done < count) {
    const uint8_t byte = window[copyFrom_];
    window[position] = byte;
    out[done++] = byte;
    position = (position + 1) & kLzssWindowMask;
    copyFrom_ = (copyFrom_ + 1) & kLzssWindowMask;
    --copyLeft_;
  }
  BitWindow bits = bitIn_.Save();
  while (done < count && !ended_) {
    // A token is at most 17 bits.
    if (bits.count < 32) bits = bitIn_.Refilled(bits);
    if (bits.Take(1) != 0) {
      const uint8_t byte = static_cast<uint8_t>(bits.Take(8));
      window[position] = byte;
      out[done++] = byte;
      position = (position + 1) & kLzssWindowMask;
      continue;
    }
    unsigned from = bits.Take(kLzssPositionBits);
    if (from == 0) {
      ended_ = true;
      break;
    }
    const unsigned length = bits.Take(kLzssLengthBits) + kLzssMinMatch;
    const unsigned fits = static_cast<unsigned>(std::min<size_t>(length, count - done));
    for (unsigned i = 0; i < fits; ++i) {
      const uint8_t byte = window[from];
      window[position] = byte;
      out[done++] = byte;
      position = (position + 1) & kLzssWindowMask;
      from = (from + 1) & kLzssWindowMask;
    }
    if (fits < length) {
      copyFrom_ = from;
      copyLeft_ = length - fits;
    }
  }
  bitIn_.Restore(bits);
  position_ = position;
  return done;
}

// The window starts with the first look-ahead bytes at position 1.
void CLzssFile::Begin() {
  started_ = true;
  lookAhead_ = filled_;
  position_ = 1;
  matcher_->InsertNext();
  matchLength_ = 0;
  matchPosition_ = 0;
  replaceLeft_ = 0;
  if (lookAhead_ > 0) SendToken();
}

void CLzssFile::SendToken() {
  if (matchLength_ > lookAhead_) matchLength_ = lookAhead_;
  if (matchLength_ < kLzssMinMatch) {
    replaceLeft_ = 1;
    bitOut_.Put(1, 1);
    bitOut_.Put(matcher_->At(position_), 8);
  } else {
    replaceLeft_ = matchLength_;
    bitOut_.Put(0, 1);
    bitOut_.Put(static_cast<uint32_t>(matchPosition_), kLzssPositionBits);
    bitOut_.Put(static_cast<uint32_t>(matchLength_ - kLzssMinMatch), kLzssLengthBits);
  }
}

// Moves one byte on: the string leaving the window's far end is dropped, the next input
// byte (or none, byte < 0, at the end) enters the look-ahead, and the new current string
// is matched.
void CLzssFile::Advance(int byte) {
  const unsigned incoming = (position_ + kLzssLookAhead) & kLzssWindowMask;
  if (byte < 0) {
    --lookAhead_;
  } else {
    matcher_->Set(incoming, static_cast<uint8_t>(byte));
  }
  position_ = (position_ + 1) & kLzssWindowMask;
  if (lookAhead_ > 0) {
    // Only a token's first string is searched; every string is chained for later ones.
    if (replaceLeft_ == 1) matchLength_ = matcher_->LongestForNext(&matchPosition_);
    matcher_->InsertNext();
  }
  if (--replaceLeft_ == 0 && lookAhead_ > 0) SendToken();
}

void CLzssFile::Encode(const uint8_t* data, size_t count) {
  size_t i = 0;
  while (!started_ && i < count) {
    matcher_->Set(static_cast<unsigned>(1 + filled_), data[i++]);
    if (++filled_ == kLzssLookAhead) Begin();
  }
  for (; i < count; ++i) Advance(data[i]);
}

void CLzssFile::EndStream() {
  if (!started_) Begin();
  while (lookAhead_ > 0) Advance(-1);
  bitOut_.Put(0, 1);
  bitOut_.Put(0, kLzssPositionBits);
}

}  // namespace perimo
