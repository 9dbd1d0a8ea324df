#include "transport/codec/frame_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace perimo {
namespace {

using Bytes = std::vector<uint8_t>;

// Every frame the decoder completes while taking the bytes.
std::vector<Bytes> Decode(FrameDecoder& decoder, const Bytes& bytes) {
  std::vector<Bytes> frames;
  for (uint8_t b : bytes) {
    if (decoder.Feed(b)) frames.emplace_back(decoder.frame(), decoder.frame() + decoder.length());
  }
  return frames;
}

TEST(FrameDecoder, EnvelopeCases) {
  struct Case {
    Bytes input;
    std::vector<Bytes> frames;
    FrameDecoder::State after;
  };
  const Case cases[] = {
      {{0x02, 0x10, 0x10, 0x10, 0x03}, {{0x10}}, FrameDecoder::State::kIdle},
      // The byte after a lone DLE is ignored; the ETX still ends the frame.
      {{0x02, 'A', 0x10, 'B', 0x03}, {{'A'}}, FrameDecoder::State::kIdle},
      // The second DLE is taken as a doubled DLE and the ETX as data: no frame yet.
      {{0x02, 'A', 0x10, 'B', 0x10, 0x03}, {}, FrameDecoder::State::kInFrame},
      {{0x02, 0x10, 0x03}, {{}}, FrameDecoder::State::kIdle},
      // Bytes before STX are noise; an STX inside a frame is data.
      {{'x', 0x03, 0x10, 0x02, 0x02, 'q', 0x10, 0x03}, {{0x02, 'q'}}, FrameDecoder::State::kIdle},
      {{0x02, 1, 0x10, 0x03, 0x02, 2, 0x10, 0x03}, {{1}, {2}}, FrameDecoder::State::kIdle},
  };
  for (const Case& c : cases) {
    FrameDecoder decoder;
    EXPECT_EQ(Decode(decoder, c.input), c.frames);
    EXPECT_EQ(decoder.state(), c.after);
  }
}

TEST(FrameDecoder, OversizeFrameIsDroppedAndTheNextOneDecodes) {
  FrameDecoder decoder;
  Bytes input{0x02};
  input.insert(input.end(), kMaxDecodedFrame + 100, 0x10);  // each doubled below
  Bytes doubled{0x02};
  for (size_t i = 1; i < input.size(); ++i) doubled.insert(doubled.end(), {0x10, 0x10});
  doubled.insert(doubled.end(), {0x10, 0x03, 0x02, 'o', 'k', 0x10, 0x03});
  EXPECT_EQ(Decode(decoder, doubled), (std::vector<Bytes>{{'o', 'k'}}));
  EXPECT_EQ(decoder.oversizeDrops(), 1u);

  // A frame of exactly the limit still passes.
  Bytes exact{0x02};
  exact.insert(exact.end(), kMaxDecodedFrame, 'z');
  exact.insert(exact.end(), {0x10, 0x03});
  auto frames = Decode(decoder, exact);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), static_cast<size_t>(kMaxDecodedFrame));
}

TEST(FrameEncoder, RawIsUnchangedAndFramedDoublesDle) {
  const Bytes data{0x06, 0x10, 0x02, 0x03};
  uint8_t out[16];
  ASSERT_EQ(EncodeFrame(data.data(), 4, false, out, sizeof out), 4);
  EXPECT_EQ(Bytes(out, out + 4), data);
  ASSERT_EQ(EncodeFrame(data.data(), 4, true, out, sizeof out), 8);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x02, 0x06, 0x10, 0x10, 0x02, 0x03, 0x10, 0x03}));
  EXPECT_EQ(EncodedLength(data.data(), 4, true), 8);
}

TEST(FrameEncoder, RefusesWhatDoesNotFitWithoutWriting) {
  const Bytes data(10, 0x10);
  uint8_t out[24];
  std::fill(std::begin(out), std::end(out), 0xEE);
  EXPECT_EQ(EncodeFrame(data.data(), 10, true, out, 22), -1);  // needs 23
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(EncodeFrame(data.data(), 10, true, out, 23), 23);
  EXPECT_EQ(EncodeFrame(data.data(), 10, false, out, 9), -1);
}

TEST(FrameEncoder, EncodedFramesDecodeBackToTheData) {
  Bytes data;
  for (int i = 0; i < 600; ++i) data.push_back(static_cast<uint8_t>(i * 7));
  std::vector<uint8_t> out(2000);
  const int32_t n = EncodeFrame(data.data(), static_cast<int32_t>(data.size()), true, out.data(),
                                static_cast<int32_t>(out.size()));
  FrameDecoder decoder;
  EXPECT_EQ(Decode(decoder, Bytes(out.begin(), out.begin() + n)), std::vector<Bytes>{data});
}

}  // namespace
}  // namespace perimo
