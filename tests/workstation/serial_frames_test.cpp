// The serial line frame as the workstation writes requests and reads replies.
#include "workstation/serial_frames.h"

#include <gtest/gtest.h>

namespace perimo::workstation {
namespace {

std::vector<Bytes> Read(const Bytes& line, SerialFrameReader& reader) {
  std::vector<Bytes> frames;
  reader.Feed(line.data(), line.size(), frames);
  return frames;
}

TEST(SerialFramesTest, EnvelopeDoublesDleAndEndsWithTheCheckByte) {
  EXPECT_EQ(SerialEnvelope({0x41, 0x10, 0x42}),
            (Bytes{0x02, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03, 0x13}));
  EXPECT_EQ(SerialEnvelope({}), (Bytes{0x02, 0x10, 0x03, 0x00}));
}

TEST(SerialFramesTest, ReaderTakesGoodFramesAndSkipsTheRest) {
  struct Case {
    const char* what;
    Bytes line;
    std::vector<Bytes> frames;
    uint64_t bad;
  } cases[] = {
      {"doubled DLE", {0x02, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03, 0x13}, {{0x41, 0x10, 0x42}}, 0},
      {"wrong check", {0x02, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03, 0x14}, {}, 1},
      {"empty frame", {0x02, 0x10, 0x03, 0x00}, {{}}, 0},
      {"junk before STX", {0x41, 0x03, 0x10, 0x03, 0x02, 0x06, 0x10, 0x03, 0x06}, {{0x06}}, 0},
      {"STX inside a frame is data", {0x02, 0x02, 0x06, 0x10, 0x03, 0x04}, {{0x02, 0x06}}, 0},
      {"DLE and a stray byte", {0x02, 0x06, 0x10, 0x41, 0x07, 0x10, 0x03, 0x01}, {{0x06, 0x07}}, 0},
      {"two in one read",
       {0x02, 0x06, 0x10, 0x03, 0x06, 0x02, 0x15, 0x01, 0x10, 0x03, 0x14},
       {{0x06}, {0x15, 0x01}},
       0},
  };
  for (const Case& c : cases) {
    SerialFrameReader reader;
    EXPECT_EQ(Read(c.line, reader), c.frames) << c.what;
    EXPECT_EQ(reader.badFrames(), c.bad) << c.what;
    EXPECT_TRUE(reader.idle()) << c.what;
  }
}

TEST(SerialFramesTest, AFrameSplitAcrossReadsComesOutWhole) {
  const Bytes line = SerialEnvelope({0x06, 0x10, 0x02, 0x03});
  SerialFrameReader reader;
  std::vector<Bytes> frames;
  for (uint8_t b : line) reader.Feed(&b, 1, frames);
  EXPECT_EQ(frames, (std::vector<Bytes>{{0x06, 0x10, 0x02, 0x03}}));
}

TEST(SerialFramesTest, AFrameThatNeverEndsIsDroppedAndTheNextOneRead) {
  SerialFrameReader reader;
  Bytes line{0x02};
  line.resize(SerialFrameReader::kMaxFrame + 100, 0x41);
  EXPECT_TRUE(Read(line, reader).empty());
  EXPECT_EQ(reader.badFrames(), 1u);
  EXPECT_EQ(Read(SerialEnvelope({0x06}), reader), (std::vector<Bytes>{{0x06}}));
}

}  // namespace
}  // namespace perimo::workstation
