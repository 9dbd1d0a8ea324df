#include <gtest/gtest.h>

#include "formats/compressed_file.h"
#include "formats/format_test_support.h"
#include "formats/huffman_model.h"

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

}  // namespace
}  // namespace perimo::test
