// Feeds arbitrary line bytes, with arbitrary pauses between them, to the serial request
// decoder that HandInts runs, and checks it against a plain model of the line's state table:
// the same frames, none longer than the frame buffer, each surviving an envelope round trip.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "transport/seriallink/serial_envelope.h"
#include "transport/seriallink/serial_frame_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kGap = 2000;

// The state table written out plainly, with a growing vector.
struct Model {
  int state = 0;
  Bytes body;
  uint8_t check = 0;
  uint32_t last = 0;

  bool Feed(uint8_t b, uint32_t now, Bytes& frame) {
    if (last > now) last = now;
    if (now - last > kGap) state = 0;
    last = now;
    switch (state) {
      case 0:
        if (b == 0x02) {
          body.clear();
          check = 0;
          state = 1;
        }
        return false;
      case 1:
        if (b == 0x10) {
          state = 2;
          return false;
        }
        break;
      case 2:
        if (b == 0x03) {
          state = 3;
          return false;
        }
        if (b != 0x10) return false;
        state = 1;
        break;
      default:
        state = 0;
        if (b != check) return false;
        frame = body;
        return true;
    }
    if (body.size() == static_cast<size_t>(perimo::kSerialLineCapacity)) {
      state = 0;
      return false;
    }
    body.push_back(b);
    check ^= b;
    return false;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  perimo::SerialFrameDecoder decoder;
  Model model;
  uint32_t tick = data != nullptr && size > 0 ? data[0] * 0x01000000u : 0;
  // Pairs of (pause, byte): a pause byte above 0xF0 stands for a long silence on the line.
  for (size_t i = 1; i + 1 < size; i += 2) {
    const uint8_t pause = data[i];
    tick += pause > 0xF0 ? (pause - 0xF0) * 400u : pause & 0x03;
    const uint8_t byte = data[i + 1];
    Bytes expected;
    const bool modelFrame = model.Feed(byte, tick, expected);
    const auto result = decoder.Feed(byte, tick, kGap);
    if (modelFrame != (result == perimo::SerialFrameDecoder::kFrame)) std::abort();
    if (decoder.state() != model.state) std::abort();
    if (!modelFrame) continue;
    if (decoder.length() < 0 || decoder.length() > perimo::kSerialLineCapacity) std::abort();
    const Bytes got(decoder.frame(), decoder.frame() + decoder.length());
    if (got != expected) std::abort();
    // The envelope of the frame decodes back to it.
    std::vector<uint8_t> line(2 * got.size() + 4);
    const int32_t n = perimo::EncodeSerialFrame(got.data(), static_cast<int32_t>(got.size()),
                                                line.data(), static_cast<int32_t>(line.size()));
    if (n < 0) std::abort();
    perimo::SerialFrameDecoder again;
    int frames = 0;
    for (int32_t k = 0; k < n; ++k) {
      if (again.Feed(line[k], 1, kGap) == perimo::SerialFrameDecoder::kFrame) {
        ++frames;
        if (Bytes(again.frame(), again.frame() + again.length()) != got) std::abort();
      }
    }
    if (frames != 1) std::abort();
  }
  return 0;
}
