// The serial request decoder byte by byte, on an injected tick count, and the reply envelope.
#include "transport/seriallink/serial_frame_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "transport/seriallink/serial_envelope.h"

namespace perimo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kGap = 2000;

// Feeds the bytes one per millisecond from tick; the frames that came out whole, and the
// count of frames dropped for their check byte or their size.
struct Outcome {
  std::vector<Bytes> frames;
  int badChecks = 0;
  int oversize = 0;
};

Outcome Feed(SerialFrameDecoder& decoder, const Bytes& bytes, uint32_t& tick, uint32_t step = 1) {
  Outcome out;
  for (uint8_t b : bytes) {
    switch (decoder.Feed(b, tick, kGap)) {
      case SerialFrameDecoder::kFrame:
        out.frames.emplace_back(decoder.frame(), decoder.frame() + decoder.length());
        break;
      case SerialFrameDecoder::kBadCheck:
        ++out.badChecks;
        break;
      case SerialFrameDecoder::kOversize:
        ++out.oversize;
        break;
      case SerialFrameDecoder::kNothing:
        break;
    }
    tick += step;
  }
  return out;
}

TEST(SerialFrameDecoder, LineBytesGiveTheirFrames) {
  struct Case {
    const char* what;
    Bytes line;
    std::vector<Bytes> frames;
    int badChecks;
  };
  const Case cases[] = {
      {"doubled DLE", {0x02, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03, 0x13}, {{0x41, 0x10, 0x42}}, 0},
      {"wrong check", {0x02, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03, 0x14}, {}, 1},
      {"empty frame", {0x02, 0x10, 0x03, 0x00}, {{}}, 0},
      {"junk before STX", {0x41, 0x03, 0x10, 0x02, 0x80, 0x10, 0x03, 0x80}, {{0x80}}, 0},
      {"STX inside a frame is data", {0x02, 0x02, 0x05, 0x10, 0x03, 0x07}, {{0x02, 0x05}}, 0},
      {"DLE and another byte: that byte is ignored",
       {0x02, 0x41, 0x10, 0x44, 0x03, 0x41},
       {{0x41}},
       0},
      {"two frames back to back",
       {0x02, 0x81, 0x10, 0x03, 0x81, 0x02, 0x82, 0x10, 0x03, 0x82},
       {{0x81}, {0x82}},
       0},
  };
  for (const Case& c : cases) {
    SerialFrameDecoder decoder;
    uint32_t tick = 100;
    const Outcome out = Feed(decoder, c.line, tick);
    EXPECT_EQ(out.frames, c.frames) << c.what;
    EXPECT_EQ(out.badChecks, c.badChecks) << c.what;
    EXPECT_EQ(decoder.state(), SerialFrameDecoder::kIdle) << c.what;
  }
}

TEST(SerialFrameDecoder, StatesFollowTheLine) {
  SerialFrameDecoder decoder;
  const std::pair<uint8_t, SerialFrameDecoder::State> steps[] = {
      {0x55, SerialFrameDecoder::kIdle},           {0x02, SerialFrameDecoder::kInFrame},
      {0x10, SerialFrameDecoder::kAfterDle},       {0x99, SerialFrameDecoder::kAfterDle},
      {0x10, SerialFrameDecoder::kInFrame},        {0x10, SerialFrameDecoder::kAfterDle},
      {0x03, SerialFrameDecoder::kExpectingCheck}, {0x10, SerialFrameDecoder::kIdle},
  };
  uint32_t tick = 1;
  for (const auto& [byte, state] : steps) {
    decoder.Feed(byte, tick++, kGap);
    EXPECT_EQ(decoder.state(), state) << int(byte);
  }
}

TEST(SerialFrameDecoder, APauseAbandonsTheStartedFrame) {
  SerialFrameDecoder decoder;
  uint32_t tick = 5000;
  Feed(decoder, {0x02, 0x41}, tick);
  tick += 2500;
  bool reset = false;
  // After the pause the frame's remaining bytes are ignored until the next STX.
  EXPECT_EQ(decoder.Feed(0x42, tick, kGap, &reset), SerialFrameDecoder::kNothing);
  EXPECT_TRUE(reset);
  Outcome out = Feed(decoder, {0x10, 0x03, 0x03}, tick);
  EXPECT_TRUE(out.frames.empty());
  out = Feed(decoder, {0x02, 0x42, 0x10, 0x03, 0x42}, tick);
  EXPECT_EQ(out.frames, std::vector<Bytes>{{0x42}});

  // Exactly the limit is no pause; a tick count that wrapped is none either.
  Feed(decoder, {0x02, 0x41}, tick);
  EXPECT_EQ(decoder.Feed(0x10, tick - 1 + kGap, kGap, &reset), SerialFrameDecoder::kNothing);
  EXPECT_FALSE(reset);
  EXPECT_EQ(decoder.Feed(0x03, 3, kGap, &reset), SerialFrameDecoder::kNothing);
  EXPECT_FALSE(reset);
  EXPECT_EQ(decoder.Feed(0x41, 4, kGap), SerialFrameDecoder::kFrame);
}

TEST(SerialFrameDecoder, ABodyPastTheBufferIsDroppedAndTheNextFrameServed) {
  SerialFrameDecoder decoder;
  uint32_t tick = 1;
  Bytes line{0x02};
  line.insert(line.end(), kSerialLineCapacity, 0x41);  // fits exactly
  line.insert(line.end(), {0x10, 0x03, 0x00});
  Outcome out = Feed(decoder, line, tick);
  ASSERT_EQ(out.frames.size(), 1u);
  EXPECT_EQ(out.frames[0].size(), size_t(kSerialLineCapacity));

  line.assign({0x02});
  line.insert(line.end(), kSerialLineCapacity + 1, 0x41);
  line.insert(line.end(), {0x10, 0x03, 0x41});
  line.insert(line.end(), {0x02, 0x80, 0x10, 0x03, 0x80});
  out = Feed(decoder, line, tick);
  EXPECT_EQ(out.oversize, 1);
  EXPECT_EQ(out.frames, std::vector<Bytes>{{0x80}});
}

TEST(SerialEnvelope, RepliesAreEnvelopedWithTheirCheckByte) {
  const Bytes ack{0x06};
  uint8_t out[16];
  ASSERT_EQ(EncodeSerialFrame(ack.data(), 1, out, sizeof out), 5);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x02, 0x06, 0x10, 0x03, 0x06}));

  const Bytes dle{0x10, 0x41};
  ASSERT_EQ(EncodeSerialFrame(dle.data(), 2, out, sizeof out), 7);
  EXPECT_EQ(Bytes(out, out + 7), (Bytes{0x02, 0x10, 0x10, 0x41, 0x10, 0x03, 0x51}));
  EXPECT_EQ(EncodeSerialFrame(nullptr, 0, out, sizeof out), 4);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x02, 0x10, 0x03, 0x00}));

  // Every byte a DLE: the safe length fits the line buffer, one more does not.
  std::vector<uint8_t> line(kSerialLineCapacity);
  const Bytes dles(kSerialSafeReplyLength + 1, 0x10);
  EXPECT_EQ(
      EncodeSerialFrame(dles.data(), kSerialSafeReplyLength, line.data(), kSerialLineCapacity),
      kSerialLineCapacity);
  EXPECT_EQ(
      EncodeSerialFrame(dles.data(), kSerialSafeReplyLength + 1, line.data(), kSerialLineCapacity),
      -1);
}

}  // namespace
}  // namespace perimo
