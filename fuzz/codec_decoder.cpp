// Feeds arbitrary received bytes through the framed and raw readers and checks that every
// frame they hand over stays inside the buffer and survives an encode/decode round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/codec/frame_codec.h"
#include "transport/codec/frame_reader.h"

namespace {

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool framed = data[0] & 1;
  const size_t segment = 1 + data[1] % 64;
  static perimo::FrameReader reader;
  static std::vector<uint8_t> buffer(perimo::kCodecBufferSize);
  static std::vector<uint8_t> encoded(perimo::kCodecBufferSize);
  reader.Clear();
  SegmentSource source(data + 2, size - 2);
  uint32_t now = 1;
  while (source.Arrive(segment)) {
    now += data[0];  // sometimes long silences
    for (;;) {
      const int32_t n =
          reader.ReceiveFrame(source, framed, buffer.data(), perimo::kMaxDecodedFrame, now * 1000);
      if (n <= 0) break;
      if (n > perimo::kMaxDecodedFrame) std::abort();
      const int32_t e = perimo::EncodeFrame(buffer.data(), n, true, encoded.data(),
                                            static_cast<int32_t>(encoded.size()));
      if (e < 0) continue;  // would not fit a reply buffer: refused, not overflowed
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
