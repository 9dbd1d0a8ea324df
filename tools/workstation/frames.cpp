#include "workstation/frames.h"

#include <cstring>

namespace perimo::workstation {

namespace {

template <typename Range>
Bytes CodeAnd(uint8_t code, const Range& payload) {
  Bytes frame(1 + payload.size());
  frame[0] = code;
  size_t i = 1;
  for (auto b : payload) frame[i++] = static_cast<uint8_t>(b);
  return frame;
}

}  // namespace

Bytes Frame(uint8_t code, std::initializer_list<uint8_t> payload) {
  return CodeAnd(code, payload);
}

Bytes Frame(uint8_t code, const Bytes& payload) {
  return CodeAnd(code, payload);
}

Bytes TextFrame(uint8_t code, std::string_view text) {
  Bytes frame = CodeAnd(code, text);
  frame.push_back(0);
  return frame;
}

Bytes WideTextFrame(uint8_t code, std::u16string_view text) {
  Bytes frame{code};
  for (char16_t c : text) {
    frame.push_back(static_cast<uint8_t>(c & 0xFF));
    frame.push_back(static_cast<uint8_t>(c >> 8));
  }
  frame.insert(frame.end(), {0, 0});
  return frame;
}

void AppendU32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t ReadU32(const Bytes& bytes, size_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | bytes[offset + i];
  return v;
}

Bytes Envelope(const Bytes& frame) {
  Bytes out;
  out.reserve(frame.size() + frame.size() / 128 + 8);
  out.push_back(kStx);
  // Copies the runs between DLEs whole; each DLE goes out twice.
  const uint8_t* at = frame.data();
  const uint8_t* const end = at + frame.size();
  while (at < end) {
    const auto* dle = static_cast<const uint8_t*>(std::memchr(at, kDle, end - at));
    const uint8_t* runEnd = dle ? dle + 1 : end;
    out.insert(out.end(), at, runEnd);
    if (dle) out.push_back(kDle);
    at = runEnd;
  }
  out.insert(out.end(), {kDle, kEtx});
  return out;
}

void EnvelopeDecoder::Reset() {
  state_ = State::kIdle;
  current_.clear();
}

void EnvelopeDecoder::Feed(const uint8_t* bytes, size_t count, std::vector<Bytes>& frames) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::kIdle:
        if (b == kStx) {
          current_.clear();
          state_ = State::kInFrame;
        }
        break;
      case State::kInFrame: {
        // The run up to the next DLE goes in whole.
        const auto* dle = static_cast<const uint8_t*>(std::memchr(bytes + i, kDle, count - i));
        const size_t runEnd = dle ? static_cast<size_t>(dle - bytes) : count;
        current_.insert(current_.end(), bytes + i, bytes + runEnd);
        i = runEnd;
        if (dle) state_ = State::kAfterDle;
        break;
      }
      case State::kAfterDle:
        if (b == kDle) {
          current_.push_back(b);
          state_ = State::kInFrame;
        } else if (b == kEtx) {
          frames.push_back(std::move(current_));
          current_.clear();
          state_ = State::kIdle;
        }
        break;
    }
  }
}

}  // namespace perimo::workstation
