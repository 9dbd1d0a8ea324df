// The TCP envelope as the workstation writes and reads it.
#include "workstation/frames.h"

#include <gtest/gtest.h>

namespace perimo::workstation {
namespace {

TEST(EnvelopeTest, DoublesEveryDleAndDecodesBackInAnyChunking) {
  const Bytes frames[] = {{}, {0x10}, {0x10, 0x10}, {1, 0x10, 2, 0x03, 0x02}, {5, 6, 7, 0x10}};
  EXPECT_EQ(Envelope({1, 0x10, 2}), (Bytes{0x02, 1, 0x10, 0x10, 2, 0x10, 0x03}));
  Bytes stream;
  for (const Bytes& f : frames) {
    const Bytes e = Envelope(f);
    stream.insert(stream.end(), e.begin(), e.end());
  }
  for (size_t chunk : {size_t{1}, size_t{3}, stream.size()}) {
    EnvelopeDecoder decoder;
    std::vector<Bytes> got;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      decoder.Feed(stream.data() + at, std::min(chunk, stream.size() - at), got);
    }
    ASSERT_EQ(got.size(), std::size(frames)) << chunk;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], frames[i]);
  }
}

}  // namespace
}  // namespace perimo::workstation
