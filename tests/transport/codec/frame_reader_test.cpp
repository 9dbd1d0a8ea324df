#include "transport/codec/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

namespace perimo {
namespace {

using Bytes = std::vector<uint8_t>;

// Segments "arrive" one per Deliver; everything delivered is waiting.
class FakeSocket : public ByteSource {
 public:
  void Deliver(const Bytes& segment) {
    waiting_.insert(waiting_.end(), segment.begin(), segment.end());
  }
  int64_t BytesWaiting() override { return failQuery ? -1 : static_cast<int64_t>(waiting_.size()); }
  int64_t Receive(uint8_t* buffer, int64_t count) override {
    const int64_t n = std::min<int64_t>(std::min<int64_t>(count, maxPerReceive), waiting_.size());
    std::copy_n(waiting_.begin(), n, buffer);
    waiting_.erase(waiting_.begin(), waiting_.begin() + n);
    return n;
  }
  bool failQuery = false;
  int64_t maxPerReceive = 1 << 30;

 private:
  std::deque<uint8_t> waiting_;
};

Bytes Framed(const Bytes& data) {
  Bytes out{0x02};
  for (uint8_t b : data) {
    out.push_back(b);
    if (b == 0x10) out.push_back(0x10);
  }
  out.insert(out.end(), {0x10, 0x03});
  return out;
}

class FrameReaderTest : public ::testing::Test {
 protected:
  // Every frame one read notification yields (the read loop until 0).
  std::vector<Bytes> ReadAll(bool framed, uint32_t now = 1000) {
    std::vector<Bytes> frames;
    for (;;) {
      const int32_t n = reader.ReceiveFrame(socket, framed, buffer.data(), kMaxDecodedFrame, now);
      if (n <= 0) return frames;
      frames.emplace_back(buffer.begin(), buffer.begin() + n);
    }
  }
  FrameReader reader;
  FakeSocket socket;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kCodecBufferSize, 0xCC);
};

TEST_F(FrameReaderTest, RawReadYieldsEverythingWaitingAsOneFrame) {
  socket.Deliver({0x80});
  socket.Deliver({0x14, 0x10, 0x02});
  socket.maxPerReceive = 2;  // several receives, one frame
  EXPECT_EQ(ReadAll(false), (std::vector<Bytes>{{0x80, 0x14, 0x10, 0x02}}));
  // The buffer is zero beyond the frame.
  EXPECT_TRUE(std::all_of(buffer.begin() + 4, buffer.begin() + kMaxDecodedFrame,
                          [](uint8_t b) { return b == 0; }));
}

TEST_F(FrameReaderTest, RawReadStopsAtTheCapacityAndWhenTheQueryFails) {
  socket.Deliver(Bytes(kMaxDecodedFrame + 10, 0x41));
  auto frames = ReadAll(false);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].size(), static_cast<size_t>(kMaxDecodedFrame));
  EXPECT_EQ(frames[1].size(), 10u);
  socket.Deliver({1, 2});
  socket.failQuery = true;
  EXPECT_TRUE(ReadAll(false).empty());
}

TEST_F(FrameReaderTest, FramedFrameSplitOverManySegmentsIsAssembled) {
  const Bytes frame{0x14, 0x10, 0x02, 0x03, 0x99};
  const Bytes wire = Framed(frame);
  std::vector<Bytes> got;
  for (uint8_t b : wire) {
    socket.Deliver({b});
    auto frames = ReadAll(true);
    got.insert(got.end(), frames.begin(), frames.end());
  }
  EXPECT_EQ(got, std::vector<Bytes>{frame});
}

TEST_F(FrameReaderTest, TwoFramesInOneSegmentComeOutInOneNotification) {
  Bytes segment = Framed({0x80});
  const Bytes second = Framed({0x36, 0x10});
  segment.insert(segment.end(), second.begin(), second.end());
  socket.Deliver(segment);
  EXPECT_EQ(ReadAll(true), (std::vector<Bytes>{{0x80}, {0x36, 0x10}}));
}

TEST_F(FrameReaderTest, EmptyFrameIsSkippedWithoutStallingTheNextOne) {
  Bytes segment{0x02, 0x10, 0x03};
  const Bytes next = Framed({0x81});
  segment.insert(segment.end(), next.begin(), next.end());
  socket.Deliver(segment);
  EXPECT_EQ(ReadAll(true), (std::vector<Bytes>{{0x81}}));
}

TEST_F(FrameReaderTest, PartialFrameIsDroppedAfterSilence) {
  socket.Deliver({0x02, 'a', 'b'});
  EXPECT_TRUE(ReadAll(true, 1000).empty());
  // Within the limit the frame continues.
  socket.Deliver({'c', 0x10, 0x03});
  EXPECT_EQ(ReadAll(true, 1000 + kPartialFrameTimeoutMs), (std::vector<Bytes>{{'a', 'b', 'c'}}));

  socket.Deliver({0x02, 'a', 'b'});
  EXPECT_TRUE(ReadAll(true, 200000).empty());
  // After more than 60 s the old bytes are gone and the search for STX starts afresh.
  socket.Deliver({'c', 0x10, 0x03, 0x02, 'd', 0x10, 0x03});
  EXPECT_EQ(ReadAll(true, 200000 + kPartialFrameTimeoutMs + 1), (std::vector<Bytes>{{'d'}}));
}

TEST_F(FrameReaderTest, ManyHeldFramesAreAllDelivered) {
  // More bytes than one frame's capacity arrive at once: nothing may be lost.
  Bytes segment;
  std::vector<Bytes> sent;
  for (int i = 0; i < 60; ++i) {
    Bytes frame(4000, static_cast<uint8_t>(i));
    frame[0] = 0x2E;
    sent.push_back(frame);
    const Bytes wire = Framed(frame);
    segment.insert(segment.end(), wire.begin(), wire.end());
  }
  socket.Deliver(segment);
  std::vector<Bytes> got;
  for (int round = 0; round < 10 && got.size() < sent.size(); ++round) {
    auto frames = ReadAll(true);
    got.insert(got.end(), frames.begin(), frames.end());
  }
  EXPECT_EQ(got, sent);
}

TEST_F(FrameReaderTest, FramesOfEverySizeSurviveRandomSegmentsAndRefills) {
  // Enough bytes to pass through the accumulation buffer several times, in segments that
  // split frames and DLE pairs anywhere, with reads that return only part of what waits.
  std::mt19937 rng(7);
  std::vector<Bytes> sent;
  Bytes wire;
  while (wire.size() < 3u * kAccumulationSize) {
    const size_t size = rng() % 8 == 0 ? 100000 + rng() % 30000 : 1 + rng() % 20000;
    Bytes frame(size);
    for (uint8_t& b : frame) b = rng() % 16 == 0 ? 0x10 : static_cast<uint8_t>(rng());
    sent.push_back(frame);
    const Bytes framed = Framed(frame);
    wire.insert(wire.end(), framed.begin(), framed.end());
  }
  std::vector<Bytes> got;
  for (size_t at = 0; at < wire.size();) {
    const size_t n = std::min<size_t>(wire.size() - at, 1 + rng() % 300000);
    socket.Deliver(Bytes(wire.begin() + at, wire.begin() + at + n));
    at += n;
    socket.maxPerReceive = 1 + rng() % 200000;
    auto frames = ReadAll(true);
    got.insert(got.end(), frames.begin(), frames.end());
  }
  for (int round = 0; round < 50 && got.size() < sent.size(); ++round) {
    auto frames = ReadAll(true);
    got.insert(got.end(), frames.begin(), frames.end());
  }
  EXPECT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);
}

TEST_F(FrameReaderTest, ClearForgetsHeldBytes) {
  socket.Deliver({0x02, 'x'});
  ReadAll(true);
  reader.Clear();
  socket.Deliver({'y', 0x10, 0x03, 0x02, 'z', 0x10, 0x03});
  EXPECT_EQ(ReadAll(true), (std::vector<Bytes>{{'z'}}));
}

}  // namespace
}  // namespace perimo
