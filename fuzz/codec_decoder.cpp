// Feeds arbitrary received bytes through the framed and raw readers and checks that every
// frame they hand over stays inside the buffer and survives an encode/decode round trip, and
// that the run-based decoder, in any chunking, completes exactly the frames of the decoder
// table applied one byte at a time.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/codec/frame_codec.h"
#include "transport/codec/frame_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The input arrives in segments whose sizes come from its first bytes.
class SegmentSource : public perimo::ByteSource {
 public:
  SegmentSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int64_t BytesWaiting() override { return static_cast<int64_t>(available_ - position_); }
  int64_t Receive(uint8_t* buffer, int64_t count) override {
    const int64_t n = std::min<int64_t>(count, BytesWaiting());
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += static_cast<size_t>(n);
    return n;
  }
  bool Arrive(size_t count) {
    if (available_ >= size_) return false;
    available_ = std::min(size_, available_ + count);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t available_ = 0;
  size_t position_ = 0;
};

// The decoder table one byte at a time, with the length limit.
struct ReferenceDecoder {
  using State = perimo::FrameDecoder::State;
  std::vector<Bytes> frames;
  uint32_t drops = 0;
  State state = State::kIdle;
  Bytes frame;

  bool Append(uint8_t b) {
    if (frame.size() >= static_cast<size_t>(perimo::kMaxDecodedFrame)) {
      ++drops;
      state = State::kIdle;
      return false;
    }
    frame.push_back(b);
    return true;
  }
  void Feed(uint8_t b) {
    if (state == State::kIdle) {
      if (b == perimo::kStx) {
        frame.clear();
        state = State::kInFrame;
      }
    } else if (state == State::kInFrame) {
      if (b == perimo::kDle) {
        state = State::kAfterDle;
      } else {
        Append(b);
      }
    } else if (b == perimo::kDle) {
      if (Append(b)) state = State::kInFrame;
    } else if (b == perimo::kEtx) {
      frames.push_back(frame);
      state = State::kIdle;
    }
  }
};

// With the top two bits of the first byte set, an opened frame already close to the length
// limit comes first, so that the input's bytes reach the limit.
constexpr size_t kNearLimit = perimo::kMaxDecodedFrame - 64;

void CompareWithReference(const uint8_t* data, size_t size) {
  Bytes stream;
  ReferenceDecoder reference;
  if ((data[0] & 0xC0) == 0xC0) {
    stream.push_back(perimo::kStx);
    stream.insert(stream.end(), kNearLimit, 'z');
    // The model starts behind that prefix rather than taking it byte by byte.
    reference.state = ReferenceDecoder::State::kInFrame;
    reference.frame.assign(kNearLimit, 'z');
  }
  stream.insert(stream.end(), data + 2, data + size);
  for (size_t i = stream.size() - (size - 2); i < stream.size(); ++i) reference.Feed(stream[i]);

  static perimo::FrameDecoder decoder;
  decoder.Reset();
  const uint32_t dropsBefore = decoder.oversizeDrops();
  size_t frames = 0;
  size_t at = 0;
  // Chunk sizes cycle through the input's own bytes.
  for (size_t i = 0; at < stream.size(); ++i) {
    const size_t chunk = 1 + data[2 + i % (size - 2)] % 97;
    const int32_t count = static_cast<int32_t>(std::min(chunk, stream.size() - at));
    int32_t done = 0;
    while (done < count) {
      bool completed = false;
      const int32_t taken = decoder.Feed(stream.data() + at + done, count - done, completed);
      if (taken <= 0 || taken > count - done) std::abort();
      done += taken;
      if (!completed) continue;
      if (frames >= reference.frames.size()) std::abort();
      const Bytes& expected = reference.frames[frames++];
      if (static_cast<size_t>(decoder.length()) != expected.size() ||
          (!expected.empty() &&
           std::memcmp(decoder.frame(), expected.data(), expected.size()) != 0)) {
        std::abort();
      }
    }
    at += static_cast<size_t>(count);
  }
  if (frames != reference.frames.size() ||
      decoder.oversizeDrops() - dropsBefore != reference.drops ||
      decoder.state() != reference.state) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  CompareWithReference(data, size);

  const bool framed = data[0] & 1;
  const size_t segment = 1 + data[1] % 64;
  static perimo::FrameReader reader;
  static std::vector<uint8_t> buffer(perimo::kCodecBufferSize);
  static std::vector<uint8_t> encoded(perimo::kCodecBufferSize);
  reader.Clear();
  SegmentSource source(data + 2, size - 2);
  uint32_t now = 1;
  while (source.Arrive(segment)) {
    now += data[0] & 0x7F;  // sometimes long silences
    for (;;) {
      const int32_t n =
          reader.ReceiveFrame(source, framed, buffer.data(), perimo::kMaxDecodedFrame, now * 1000);
      if (n <= 0) break;
      if (n > perimo::kMaxDecodedFrame) std::abort();
      const int32_t e = perimo::EncodeFrame(buffer.data(), n, true, encoded.data(),
                                            static_cast<int32_t>(encoded.size()));
      if (e < 0) continue;  // would not fit a reply buffer: refused, not overflowed
      if (e != perimo::EncodedLength(buffer.data(), n, true)) std::abort();
      static perimo::FrameDecoder decoder;
      decoder.Reset();
      int completed = 0;
      for (int32_t i = 0; i < e; ++i) {
        if (decoder.Feed(encoded[i])) {
          ++completed;
          if (decoder.length() != n || std::memcmp(decoder.frame(), buffer.data(), n) != 0) {
            std::abort();
          }
        }
      }
      if (completed != 1) std::abort();
    }
  }
  return 0;
}
