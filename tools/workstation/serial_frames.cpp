#include "workstation/serial_frames.h"

namespace perimo::workstation {

Bytes SerialEnvelope(const Bytes& frame) {
  Bytes out;
  out.reserve(frame.size() + frame.size() / 64 + 4);
  uint8_t check = 0;
  out.push_back(kStx);
  for (uint8_t b : frame) {
    check ^= b;
    out.push_back(b);
    if (b == kDle) out.push_back(kDle);
  }
  out.push_back(kDle);
  out.push_back(kEtx);
  out.push_back(check);
  return out;
}

void SerialFrameReader::Reset() {
  state_ = State::kIdle;
  current_.clear();
  check_ = 0;
}

void SerialFrameReader::Feed(const uint8_t* bytes, size_t count, std::vector<Bytes>& frames) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::kIdle:
        if (b == kStx) {
          current_.clear();
          check_ = 0;
          state_ = State::kInFrame;
        }
        break;
      case State::kInFrame:
        if (b == kDle) {
          state_ = State::kAfterDle;
        } else if (current_.size() >= kMaxFrame) {
          ++badFrames_;
          Reset();
        } else {
          current_.push_back(b);
          check_ ^= b;
        }
        break;
      case State::kAfterDle:
        if (b == kDle) {
          current_.push_back(b);
          check_ ^= b;
          state_ = State::kInFrame;
        } else if (b == kEtx) {
          state_ = State::kCheck;
        } else {
          state_ = State::kInFrame;
        }
        break;
      case State::kCheck:
        if (b == check_) {
          frames.push_back(std::move(current_));
        } else {
          ++badFrames_;
        }
        Reset();
        break;
    }
  }
}

}  // namespace perimo::workstation
