#pragma once
// The adaptive Huffman tree shared by the encoder and the decoder. Both sides feed it the
// same symbols, so both hold the same tree at every step.
//
// Nodes are kept in order of non-increasing weight (the sibling property); node 0 is the
// root. An internal node's children are nodes child and child + 1; child is always odd, so
// the bit that selects a child is 0 for child and 1 for child + 1.
#include <cstdint>

#include "formats/bit_io.h"

namespace perimo {

class HuffmanModel {
 public:
  static constexpr int kEndCode = 256;
  static constexpr int kEscapeCode = 257;
  static constexpr int kSymbolCount = 258;
  static constexpr int kNodeCount = 515;
  static constexpr int kRoot = 0;
  // The root's weight at which the tree is rebuilt with halved weights.
  static constexpr uint32_t kMaxWeight = 0x8000;

  HuffmanModel() { Reset(); }
  // Root with the end code (node 1) and the escape code (node 2), weight 1 each.
  void Reset();

  bool Contains(int symbol) const { return up_[kLeafOf + symbol] >= 0; }
  int LeafOf(int symbol) const { return up_[kLeafOf + symbol]; }
  int Parent(int node) const { return up_[node]; }
  uint32_t Weight(int node) const { return weight_[node]; }
  int NextFreeNode() const { return nextFree_; }
  bool IsLeaf(int node) const { return link_[node] < 0; }
  // The leaf's symbol, or the first child of an internal node.
  int SymbolOf(int leaf) const { return ~link_[leaf]; }
  int ChildOf(int node) const { return link_[node]; }

  // Splits the lightest leaf to make room for a new byte of weight 0. False when the byte
  // is already in the tree (each symbol has exactly one leaf) or the tree is full.
  bool Add(int byte);
  // Counts one more occurrence of symbol and restores the weight order.
  void Update(int symbol);

  // Reads the code of one symbol from window, refilled by refill(window) when it runs dry,
  // and returns the symbol; a byte is counted as Update counts it, the end and escape codes
  // are not. -1 when the walk goes deeper than a tree of this size can be.
  template <typename Refill>
  int Decode(BitWindow& window, Refill&& refill);
  // Hands the code of symbol to put(bits, n), n <= 32 bits at a time, most significant
  // first; counts symbol afterwards when count is set.
  template <typename Put>
  void Encode(int symbol, bool count, Put&& put);

 private:
  // Shortcut through the first kShortcutBits levels: for the next bits of the stream, the
  // node they lead to from the root, how many of them that takes (fewer when a leaf comes
  // first) and the nodes passed on the way.
  static constexpr int kShortcutBits = 5;
  struct Shortcut {
    int16_t node;
    int16_t bits;
    // path[0] is the root, path[bits] is node; later entries name kIdleNode.
    int16_t path[kShortcutBits + 1];
  };
  // A weight slot the decoder counts in place of nodes a shortcut does not pass, so that
  // it can count a shortcut's nodes without a loop; the slot before it holds the highest
  // weight, so that it is never seen to need a move (but once every 65536 counts).
  static constexpr int kIdleNode = kNodeCount + 1;
  // A walk from the root never passes more internal nodes than the tree can hold.
  static constexpr int kMaxDepth = kNodeCount / 2;
  // up_ holds the parent of each node, then the leaf of each symbol, then one slot that
  // takes the second of the two writes PointAt makes for a leaf.
  static constexpr int kLeafOf = kNodeCount;
  static constexpr int kSpareUp = kNodeCount + kSymbolCount;

  // Counting a symbol moves each node on its path whose weight an earlier node shares. The
  // coders count the nodes as they walk and note which ones must move; only from the
  // lowest of those does the update climb the parent links, one load after the other.
  // Sets bit `depth` of *moves when the node at that depth must move; bit 63 stands for
  // every depth from 63 on.
  void CountOnPath(int node, int depth, uint64_t* moves) {
    const uint32_t weight = weight_[node];
    *moves |= static_cast<uint64_t>(weight_[node - 1] <= weight) << depth;
    weight_[node] = static_cast<uint16_t>(weight + 1);
  }
  // Completes Decode's counting when a node needs a move or the tree a rebuild, or undoes
  // it for a code that is not counted.
  // A rebuild that is due rides in bit 0 of moves.
  void FinishDecodeCount(const Shortcut& start, int16_t* path, int depth, uint64_t moves,
                         int symbol);
  // Update for the symbol at the end of path, the nodes from path[0] (the root) to
  // path[depth] not counted yet.
  void UpdateAlong(const int16_t* path, int depth);
  int MergeWithWalk(const int16_t* path, int i, int node);
  void BuildShortcuts();
  // A change of node's contents invalidates the shortcuts when they pass through it.
  void Touch(int node) {
    if (node <= shortcutReach_) shortcutReach_ = -1;
  }
  // Counts one more occurrence at node after moving its contents to the first node of
  // equal weight; returns where the contents are now.
  int Promote(int node);
  int RunStart(int node, uint32_t weight) const;
  // Promotes node and each node above it.
  void Climb(int node);
  void Rebuild();
  void Swap(int i, int j);
  void PointAt(int link, int to);

  // The root's weight never passes kMaxWeight, so 16 bits hold every weight.
  uint16_t weight_[kIdleNode + 1];
  int16_t link_[kNodeCount];
  int16_t up_[kNodeCount + kSymbolCount + 1];
  int nextFree_;
  Shortcut shortcuts_[1 << kShortcutBits];
  // The highest internal node the shortcuts pass through; -1 when they must be rebuilt.
  int shortcutReach_ = -1;
};

template <typename Refill>
[[gnu::always_inline]] inline int HuffmanModel::Decode(BitWindow& window, Refill&& refill) {
  BitWindow bits = window;
  if (bits.count < kShortcutBits) refill(bits);
  if (shortcutReach_ < 0) [[unlikely]]
    BuildShortcuts();
  const Shortcut& start = shortcuts_[bits.bits >> (64 - kShortcutBits)];
  bits.Skip(start.bits);
  const bool rebuildDue = weight_[kRoot] == kMaxWeight;
  // Bit 0 stands for the root, which never moves: it carries the rebuild, so that one test
  // of moves sends both to the slow way.
  uint64_t moves = static_cast<uint64_t>(rebuildDue);
#pragma GCC unroll 8
  for (int i = 1; i <= kShortcutBits; ++i) CountOnPath(start.path[i], i, &moves);
  // The shortcut's part of the path is only copied in when the slow way needs it.
  int16_t path[kMaxDepth + 1];
  int depth = start.bits;
  int node = start.node;
  int link;
  while ((link = link_[node]) >= 0) {
    if (depth == kMaxDepth) [[unlikely]] {
      window = bits;
      FinishDecodeCount(start, path, depth, moves, -1);
      return -1;
    }
    if (bits.count == 0) [[unlikely]]
      refill(bits);
    node = link + static_cast<int>(bits.Take(1));
    path[++depth] = static_cast<int16_t>(node);
    CountOnPath(node, depth < 63 ? depth : 63, &moves);
  }
  window = bits;
  const int symbol = ~link;
  if ((moves | static_cast<uint64_t>(symbol >> 8)) == 0) {
    ++weight_[kRoot];
  } else {
    FinishDecodeCount(start, path, depth, moves, symbol);
  }
  return symbol;
}

template <typename Put>
inline void HuffmanModel::Encode(int symbol, bool count, Put&& put) {
  int node = up_[kLeafOf + symbol];
  if (node < 0) return;
  // The nodes from the leaf up, filled in from the end so that the root comes first.
  int16_t buffer[kMaxDepth + 1];
  int16_t* path = buffer + kMaxDepth;
  *path = static_cast<int16_t>(node);
  const bool counting = count && weight_[kRoot] != kMaxWeight;
  bool clean = counting;
  int16_t* moveAt = path;
  uint64_t code = 0;
  int length = 0;
  while (node > kRoot && path > buffer) {
    if (clean) {
      const uint32_t weight = weight_[node];
      if (node > 1 && weight_[node - 1] <= weight) {
        clean = false;
        moveAt = path;
      } else {
        weight_[node] = static_cast<uint16_t>(weight + 1);
      }
    }
    code |= static_cast<uint64_t>((node & 1) ^ 1) << (length & 63);
    ++length;
    node = up_[node];
    *--path = static_cast<int16_t>(node);
  }
  if (length <= 32) {
    if (length > 0) put(static_cast<uint32_t>(code), length);
  } else if (length <= 64) {
    put(static_cast<uint32_t>(code >> 32), length - 32);
    put(static_cast<uint32_t>(code), 32);
  } else {
    for (int i = 1; i <= length; ++i) put(static_cast<uint32_t>((path[i] & 1) ^ 1), 1);
  }
  if (!count) return;
  if (!counting) {
    Update(symbol);
  } else if (clean) {
    ++weight_[kRoot];
  } else {
    UpdateAlong(path, static_cast<int>(moveAt - path));
  }
}

}  // namespace perimo
