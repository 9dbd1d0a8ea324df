#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"
#include "formats/huffman_model.h"
#include "formats/huffman_reference.h"

namespace perimo::test {
namespace {

// Weights never increase along the node order, every internal node weighs what its two
// children weigh, and the leaf table and parent links agree with the nodes.
::testing::AssertionResult Consistent(const HuffmanModel& model) {
  const int count = model.NextFreeNode();
  if (model.Parent(HuffmanModel::kRoot) != -1)
    return ::testing::AssertionFailure() << "root parent";
  for (int node = 0; node < count; ++node) {
    if (node > 0 && model.Weight(node) > model.Weight(node - 1)) {
      return ::testing::AssertionFailure() << "weight order broken at node " << node;
    }
    if (model.IsLeaf(node)) {
      if (model.LeafOf(model.SymbolOf(node)) != node) {
        return ::testing::AssertionFailure() << "leaf table wrong for node " << node;
      }
      continue;
    }
    const int child = model.ChildOf(node);
    if (child % 2 != 1 || child + 1 >= count || model.Parent(child) != node ||
        model.Parent(child + 1) != node) {
      return ::testing::AssertionFailure() << "children of node " << node;
    }
    if (model.Weight(child) + model.Weight(child + 1) != model.Weight(node)) {
      return ::testing::AssertionFailure() << "weight sum at node " << node;
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(HuffmanModel, StartsWithEndAndEscapeUnderTheRoot) {
  HuffmanModel model;
  EXPECT_EQ(model.Weight(HuffmanModel::kRoot), 2u);
  EXPECT_EQ(model.LeafOf(HuffmanModel::kEndCode), 1);
  EXPECT_EQ(model.LeafOf(HuffmanModel::kEscapeCode), 2);
  EXPECT_EQ(model.NextFreeNode(), 3);
  for (int byte = 0; byte < 256; ++byte) EXPECT_FALSE(model.Contains(byte));
  EXPECT_TRUE(Consistent(model));
}

TEST(HuffmanModel, RebuildsWithHalvedWeightsOnceRootReaches32768) {
  HuffmanModel model;
  ASSERT_TRUE(model.Add('a'));
  for (int i = 0; i < 32766; ++i) model.Update('a');
  // Root: end 1 + escape 1 + 'a' 32766.
  EXPECT_EQ(model.Weight(HuffmanModel::kRoot), 32768u);
  EXPECT_EQ(model.Weight(model.LeafOf('a')), 32766u);
  model.Update('a');
  // Rebuilt first: 'a' 16383 (+1 for this update), end 1, escape 1.
  EXPECT_EQ(model.Weight(model.LeafOf('a')), 16384u);
  EXPECT_EQ(model.Weight(HuffmanModel::kRoot), 16386u);
  EXPECT_EQ(model.Weight(model.LeafOf(HuffmanModel::kEndCode)), 1u);
  EXPECT_TRUE(Consistent(model));
}

TEST(HuffmanModel, StaysConsistentThroughManyUpdatesAndRebuilds) {
  HuffmanModel model;
  const Bytes data = TextData(60000, 5);
  const Bytes noise = RandomData(60000, 6);
  size_t step = 0;
  for (const Bytes* input : {&data, &noise}) {
    for (uint8_t byte : *input) {
      if (!model.Contains(byte)) {
        ASSERT_TRUE(model.Add(byte));
      }
      model.Update(byte);
      if (++step % 997 == 0) {
        ASSERT_TRUE(Consistent(model)) << "after " << step;
      }
    }
  }
  EXPECT_EQ(model.NextFreeNode(), HuffmanModel::kNodeCount);
  EXPECT_FALSE(model.Add(0));
  EXPECT_TRUE(Consistent(model));
}

// Nodes, leaves and weights of two models are the same.
::testing::AssertionResult SameTree(const HuffmanModel& a, const HuffmanModel& b) {
  if (a.NextFreeNode() != b.NextFreeNode()) return ::testing::AssertionFailure() << "size";
  for (int node = 0; node < a.NextFreeNode(); ++node) {
    if (a.Weight(node) != b.Weight(node) || a.ChildOf(node) != b.ChildOf(node)) {
      return ::testing::AssertionFailure() << "node " << node;
    }
  }
  return ::testing::AssertionSuccess();
}

// The reader counts a code while it walks down and repairs the tree afterwards where nodes
// must move; the plain update climbs from the leaf. After every symbol both must hold the
// same tree, or later codes drift apart.
TEST(HuffmanModel, ReadingCountsAsThePlainUpdateDoes) {
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"binary records", BinaryData(40000, 21)},
      {"text", TextData(40000, 22)},
      // Many leaves of equal weight: long runs, moves that land far from the walked path.
      {"random bytes", RandomData(40000, 23)},
      // A few heavy bytes over a noise floor: short codes that move within the first levels.
      {"heavy bytes over noise",
       [] {
         std::mt19937 random(24);
         Bytes b;
         for (int i = 0; i < 40000; ++i) {
           b.push_back(static_cast<uint8_t>(random() % 4 != 0 ? random() % 3 : random()));
         }
         return b;
       }()},
  };
  for (const auto& sample : cases) {
    SCOPED_TRACE(sample.name);
    HuffmanModel plain;
    HuffmanModel reader;
    for (size_t i = 0; i < sample.data.size(); ++i) {
      const int byte = sample.data[i];
      if (!plain.Contains(byte)) {
        ASSERT_TRUE(plain.Add(byte) && reader.Add(byte));
        plain.Update(byte);
        reader.Update(byte);
        continue;
      }
      uint64_t code = 0;
      int length = 0;
      plain.Encode(byte, false, [&](uint32_t bits, int n) {
        code = (code << n) | bits;
        length += n;
      });
      ASSERT_LE(length, 58);
      plain.Update(byte);
      // A full window: the bits after the code are zeros the walk must leave alone.
      BitWindow window{code << (64 - length), 64};
      const int symbol = reader.Decode(window, [](BitWindow&) { FAIL() << "refill"; });
      ASSERT_EQ(symbol, byte) << "at " << i;
      ASSERT_EQ(window.count, 64 - length) << "at " << i;
      if (i % 16 == 0) {
        ASSERT_TRUE(SameTree(plain, reader)) << "at " << i;
      }
    }
    EXPECT_TRUE(SameTree(plain, reader));
    EXPECT_TRUE(Consistent(reader));
  }
}

TEST(HuffmanFile, HandWorkedStream) {
  // 'a': escape (node 2: "1") + 01100001. 'a' again: "01". 'b': escape (node 3 under
  // node 1: "00") + 01100010. End code (node 5 under 3 under 1: "000"). 24 bits.
  const Bytes expected = {'*', '*', '+', '+', 'H', 'U', 'F',  'F',  3,   0,
                          0,   0,   3,   0,   0,   0,   0xB0, 0xA3, 0x10};
  const Bytes image = Compress(kHuffman, FromString("aab"));
  EXPECT_EQ(image, expected);
  EXPECT_EQ(Expand(kHuffman, expected, 16).data, FromString("aab"));
}

TEST(HuffmanFile, FirstOccurrenceOfEachByteIsEscapedLiteral) {
  // The escape leaf is node 2 at the start: a single 1-bit, then the byte itself.
  const Bytes stream = StreamOf(Compress(kHuffman, FromString("Z")));
  ASSERT_GE(stream.size(), 2u);
  BitUnpacker bits(stream);
  EXPECT_EQ(bits.Get(1), 1u);
  EXPECT_EQ(bits.Get(8), uint32_t{'Z'});
}

TEST(HuffmanFile, EscapeForByteAlreadyInTreeIsCorrupt) {
  // 'a' as escape + literal, then the escape leaf (now "00") naming 'a' again.
  const Bytes stream = BitPacker().Put(1, 1).Put('a', 8).Put(0, 2).Put('a', 8).Finish();
  const Expanded out = Expand(kHuffman, ImageOf(kHuffman, 2, stream), 64);
  EXPECT_TRUE(out.corrupt);
  EXPECT_EQ(out.data, FromString("a"));
}

TEST(HuffmanFile, EndCodeBeforeOriginalSizeStopsShort) {
  // Only the end code: node 1, a single 0-bit.
  const Expanded out = Expand(kHuffman, ImageOf(kHuffman, 10, {0x00}), 64);
  EXPECT_TRUE(out.data.empty());
  EXPECT_FALSE(out.corrupt);
}

// Inputs that drive the tree through its corners: no symbol at all, a full tree, the weight
// limit hit by one symbol, a tree as deep as the weights allow, and many rebuilds.
struct Sample {
  const char* name;
  Bytes data;
};

const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = {
      {"empty", {}},
      {"one byte", FromString("x")},
      {"byte 0xFF", Bytes{0xFF}},
      {"every byte value up, down and up again",
       [] {
         Bytes b;
         for (int i = 0; i < 256; ++i) b.push_back(static_cast<uint8_t>(i));
         for (int i = 255; i >= 0; --i) b.push_back(static_cast<uint8_t>(i));
         for (int i = 0; i < 256; ++i) b.push_back(static_cast<uint8_t>(i));
         return b;
       }()},
      // 32766 updates bring the root to the limit; the next one rebuilds first.
      {"one symbol up to the limit", Bytes(32766, 'a')},
      {"one symbol just past the limit", Bytes(32767, 'a')},
      {"one symbol through several rebuilds", Bytes(100000, 0)},
      {"Fibonacci weights (deepest tree)",
       [] {
         Bytes b;
         uint32_t a = 1;
         uint32_t c = 1;
         for (int symbol = 0; symbol < 24; ++symbol) {
           b.insert(b.end(), a, static_cast<uint8_t>(symbol * 11));
           const uint32_t next = a + c;
           a = c;
           c = next;
         }
         std::shuffle(b.begin(), b.end(), std::mt19937(4));
         return b;
       }()},
      {"text", TextData(200000, 9)},
      {"binary", BinaryData(200000, 10)},
      {"random", RandomData(120000, 11)},
  };
  return samples;
}

TEST(HuffmanFile, WriterMatchesPlainCoderBitForBit) {
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    const Bytes image = Compress(kHuffman, sample.data);
    EXPECT_TRUE(StreamOf(image) == ReferenceHuffman::Encode(sample.data));
  }
}

TEST(HuffmanFile, ReaderExpandsPlainCoderStreams) {
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    const Bytes image = ImageOf(kHuffman, static_cast<uint32_t>(sample.data.size()),
                                ReferenceHuffman::Encode(sample.data));
    for (size_t readSize : {size_t{13}, sample.data.size() + 1}) {
      SCOPED_TRACE(readSize);
      const Expanded out = Expand(kHuffman, image, readSize);
      EXPECT_FALSE(out.corrupt);
      EXPECT_TRUE(out.data == sample.data);
    }
  }
}

// Damaged streams: the reader must decode exactly what the plain coder decodes, up to the
// same point, and find the same fault.
TEST(HuffmanFile, ReaderAgreesWithPlainCoderOnDamagedStreams) {
  std::mt19937 random(12);
  const Bytes sources[] = {TextData(6000, 13), BinaryData(6000, 14), RandomData(3000, 15)};
  constexpr size_t kLimit = 20000;
  for (int round = 0; round < 300; ++round) {
    Bytes stream = ReferenceHuffman::Encode(sources[round % 3]);
    switch (round % 4) {
      case 0:  // cut short
        stream.resize(random() % stream.size());
        break;
      case 1:  // a few flipped bits
        for (int i = 0; i < 3; ++i) stream[random() % stream.size()] ^= 1 << (random() % 8);
        break;
      case 2:  // noise after a good start
        for (size_t i = random() % stream.size(); i < stream.size(); ++i) {
          stream[i] = static_cast<uint8_t>(random());
        }
        break;
      default:  // noise only
        for (uint8_t& byte : stream) byte = static_cast<uint8_t>(random());
        stream.resize(random() % 64);
        break;
    }
    SCOPED_TRACE(round);
    const ReferenceHuffman::Decoded expected = ReferenceHuffman::Decode(stream, kLimit);
    // In one read: a reader stops for good after the read that found a fault.
    const Expanded out = Expand(kHuffman, ImageOf(kHuffman, kLimit, stream), kLimit);
    ASSERT_TRUE(out.data == expected.data);
    EXPECT_EQ(out.corrupt, expected.corrupt || expected.pastEnd);
  }
}

}  // namespace
}  // namespace perimo::test
