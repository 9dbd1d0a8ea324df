#pragma once
// The adaptive Huffman tree shared by the encoder and the decoder. Both sides feed it the
// same symbols, so both hold the same tree at every step.
//
// Nodes are kept in order of non-increasing weight (the sibling property); node 0 is the
// root. An internal node's children are nodes child and child + 1; child is always odd, so
// the bit that selects a child is 0 for child and 1 for child + 1.
#include <cstdint>

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
  // Raw link table for the decoder's descent: >= 0 first child, < 0 ~symbol of a leaf.
  const int16_t* Links() const { return link_; }

  // Splits the lightest leaf to make room for a new byte of weight 0. False when the byte
  // is already in the tree (each symbol has exactly one leaf) or the tree is full.
  bool Add(int byte);
  // Counts one more occurrence of symbol and restores the weight order.
  void Update(int symbol);
  // The same for the symbol whose leaf the coder has just walked to: path[0] is the root,
  // path[depth] the leaf. Until a swap changes the way up, the path saves following the
  // parent links one load after the other.
  void UpdateAlong(const int16_t* path, int depth);

  // The decoder's shortcut through the first kShortcutBits levels: for the next bits of the
  // stream, the node they lead to from the root, how many of them that takes (fewer when a
  // leaf comes first) and the nodes passed on the way.
  static constexpr int kShortcutBits = 4;
  struct Shortcut {
    int16_t node;
    int16_t bits;
    int16_t path[kShortcutBits + 1];  // path[0] is the root, path[bits] is node
  };
  const Shortcut* Shortcuts() {
    if (shortcutReach_ < 0) BuildShortcuts();
    return shortcuts_;
  }

 private:
  // up_ holds the parent of each node, then the leaf of each symbol, then one slot that
  // takes the second of the two writes PointAt makes for a leaf.
  static constexpr int kLeafOf = kNodeCount;
  static constexpr int kSpareUp = kNodeCount + kSymbolCount;

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

  // One spare weight past the last node, always 0, so that the node after any node can be
  // looked at.
  uint16_t weight_[kNodeCount + 1];
  int16_t link_[kNodeCount];
  int16_t up_[kNodeCount + kSymbolCount + 1];
  int nextFree_;
  Shortcut shortcuts_[1 << kShortcutBits];
  // The highest internal node the shortcuts pass through; -1 when they must be rebuilt.
  int shortcutReach_ = -1;
};

}  // namespace perimo
