#include "transport/codec/frame_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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

// The decoder table taken one byte at a time, with the length limit: the model the run-based
// decoder must match.
class ReferenceDecoder {
 public:
  std::vector<Bytes> frames;
  int drops = 0;
  FrameDecoder::State state = FrameDecoder::State::kIdle;

  void Feed(uint8_t b) {
    using S = FrameDecoder::State;
    if (state == S::kIdle) {
      if (b == 0x02) {
        frame.clear();
        state = S::kInFrame;
      }
    } else if (state == S::kInFrame) {
      if (b == 0x10) {
        state = S::kAfterDle;
      } else {
        Append(b);
      }
    } else if (b == 0x10) {
      if (Append(b)) state = S::kInFrame;
    } else if (b == 0x03) {
      frames.push_back(frame);
      state = S::kIdle;
    }
  }

 private:
  bool Append(uint8_t b) {
    if (frame.size() >= static_cast<size_t>(kMaxDecodedFrame)) {
      ++drops;
      state = FrameDecoder::State::kIdle;
      return false;
    }
    frame.push_back(b);
    return true;
  }
  Bytes frame;
};

// Feeds bytes in chunks of the given sizes (cycled) through the run decoder.
std::vector<Bytes> DecodeInChunks(FrameDecoder& decoder, const Bytes& bytes,
                                  const std::vector<size_t>& chunks) {
  std::vector<Bytes> frames;
  size_t at = 0;
  for (size_t i = 0; at < bytes.size(); ++i) {
    const int32_t size =
        static_cast<int32_t>(std::min(chunks[i % chunks.size()], bytes.size() - at));
    int32_t done = 0;
    while (done < size) {
      bool completed = false;
      done += decoder.Feed(bytes.data() + at + done, size - done, completed);
      if (completed) frames.emplace_back(decoder.frame(), decoder.frame() + decoder.length());
    }
    at += static_cast<size_t>(size);
  }
  return frames;
}

// Byte streams rich in the envelope's bytes: noise, frames, lone DLEs, long runs.
Bytes RandomStream(std::mt19937& rng, size_t size) {
  const uint8_t special[] = {0x02, 0x03, 0x10, 0x10, 0x10};
  Bytes bytes;
  while (bytes.size() < size) {
    const uint32_t kind = rng() % 8;
    if (kind == 0) {
      bytes.insert(bytes.end(), 1 + rng() % 300, static_cast<uint8_t>(0x40 + rng() % 4));
    } else if (kind < 4) {
      bytes.push_back(special[rng() % sizeof special]);
    } else {
      bytes.push_back(static_cast<uint8_t>(rng()));
    }
  }
  return bytes;
}

TEST(FrameDecoder, RunsMatchTheByteTableOverRandomChunkings) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    const Bytes stream = RandomStream(rng, 50 + rng() % 3000);
    ReferenceDecoder reference;
    for (uint8_t b : stream) reference.Feed(b);
    std::vector<size_t> chunks;
    for (int i = 0; i < 8; ++i) chunks.push_back(1 + rng() % (round % 2 ? 7 : 400));
    FrameDecoder decoder;
    ASSERT_EQ(DecodeInChunks(decoder, stream, chunks), reference.frames) << "round " << round;
    EXPECT_EQ(decoder.state(), reference.state);
  }
}

TEST(FrameDecoder, FrameSplitAtEveryPositionDecodesTheSame) {
  // Doubled DLEs, a lone DLE before a data byte, an STX and ETX as data, then a second frame.
  const Bytes wire{'n',  0x02, 'a',  0x10, 0x10, 0x02, 0x10, 'x',  0x03, 0x10,
                   0x10, 0x10, 0x03, 0x02, 0x10, 0x10, 0x10, 0x10, 0x10, 0x03};
  ReferenceDecoder reference;
  for (uint8_t b : wire) reference.Feed(b);
  ASSERT_EQ(reference.frames.size(), 2u);
  for (size_t split = 1; split < wire.size(); ++split) {
    FrameDecoder decoder;
    EXPECT_EQ(DecodeInChunks(decoder, wire, {split, wire.size()}), reference.frames)
        << "split at " << split;
  }
}

TEST(FrameDecoder, OversizeRunDropsAtTheLimitAndFindsAnStxInTheSameRun) {
  // One run with no DLE passes the limit; an STX behind the overflowing byte starts the next
  // frame, as it would byte by byte.
  Bytes wire{0x02};
  wire.insert(wire.end(), kMaxDecodedFrame, 'z');
  wire.insert(wire.end(), {'!', 'y', 0x02, 'o', 'k', 0x10, 0x03});
  FrameDecoder decoder;
  EXPECT_EQ(DecodeInChunks(decoder, wire, {wire.size()}), (std::vector<Bytes>{{'o', 'k'}}));
  EXPECT_EQ(decoder.oversizeDrops(), 1u);
  // The overflowing byte itself is an STX: it is dropped with the frame, not a new start.
  wire = {0x02};
  wire.insert(wire.end(), kMaxDecodedFrame, 'z');
  wire.insert(wire.end(), {0x02, 'q', 0x10, 0x03});
  FrameDecoder second;
  EXPECT_TRUE(DecodeInChunks(second, wire, {70000}).empty());
  EXPECT_EQ(second.state(), FrameDecoder::State::kIdle);
  // The overflowing byte ends the run: the DLE behind it is noise to the idle decoder, and
  // its ETX ends nothing.
  wire = {0x02};
  wire.insert(wire.end(), kMaxDecodedFrame + 1, 'z');
  wire.insert(wire.end(), {0x10, 0x03, 0x02, 'n', 0x10, 0x03});
  FrameDecoder third;
  EXPECT_EQ(DecodeInChunks(third, wire, {wire.size()}), (std::vector<Bytes>{{'n'}}));
  EXPECT_EQ(third.oversizeDrops(), 1u);
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

TEST(FrameEncoder, EncodesDleRunsAtEveryPlace) {
  // DLEs first, last, adjacent and alone; the encoder's runs end just behind each DLE.
  const Bytes data{0x10, 0x10, 'a', 0x10, 'b', 'c', 0x02, 0x10};
  uint8_t out[32];
  ASSERT_EQ(EncodeFrame(data.data(), 8, true, out, 15), 15);  // exactly the room needed
  EXPECT_EQ(Bytes(out, out + 15), (Bytes{0x02, 0x10, 0x10, 0x10, 0x10, 'a', 0x10, 0x10, 'b', 'c',
                                         0x02, 0x10, 0x10, 0x10, 0x03}));
  EXPECT_EQ(EncodeFrame(data.data(), 8, true, out, 14), -1);
  EXPECT_EQ(EncodedLength(data.data(), 8, true), 15);
  EXPECT_EQ(EncodeFrame(data.data(), 0, true, out, 3), 3);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x02, 0x10, 0x03}));
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
