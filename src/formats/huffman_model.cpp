#include "formats/huffman_model.h"

#include <algorithm>
#include <cstring>

namespace perimo {

void HuffmanModel::Reset() {
  std::memset(weight_, 0, sizeof weight_);
  std::memset(link_, 0, sizeof link_);
  std::memset(up_, 0, sizeof up_);
  for (int symbol = 0; symbol < kSymbolCount; ++symbol) up_[kLeafOf + symbol] = -1;
  weight_[kIdleNode - 1] = 0xFFFF;
  weight_[kRoot] = 2;
  up_[kRoot] = -1;
  link_[kRoot] = 1;
  weight_[1] = 1;
  link_[1] = ~kEndCode;
  weight_[2] = 1;
  link_[2] = ~kEscapeCode;
  up_[kLeafOf + kEndCode] = 1;
  up_[kLeafOf + kEscapeCode] = 2;
  nextFree_ = 3;
  shortcutReach_ = -1;
}

bool HuffmanModel::Add(int byte) {
  if (byte < 0 || byte > 255 || Contains(byte) || nextFree_ + 2 > kNodeCount) return false;
  const int lightest = nextFree_ - 1;
  if (link_[lightest] >= 0) return false;
  Touch(lightest);
  const int copy = nextFree_;
  const int fresh = nextFree_ + 1;
  weight_[copy] = weight_[lightest];
  link_[copy] = link_[lightest];
  up_[copy] = static_cast<int16_t>(lightest);
  up_[kLeafOf + ~link_[copy]] = static_cast<int16_t>(copy);
  weight_[fresh] = 0;
  link_[fresh] = static_cast<int16_t>(~byte);
  up_[fresh] = static_cast<int16_t>(lightest);
  up_[kLeafOf + byte] = static_cast<int16_t>(fresh);
  link_[lightest] = static_cast<int16_t>(copy);
  nextFree_ += 2;
  return true;
}

// Points the leaf table, or the children's parent links, of what a node holds at `to`.
// Whether the node holds a leaf is as good as random, so the slots are chosen by masks
// rather than a branch.
inline void HuffmanModel::PointAt(int link, int to) {
  const int leaf = link >> 31;  // all ones for a leaf
  up_[(link & ~leaf) | ((kLeafOf + ~link) & leaf)] = static_cast<int16_t>(to);
  up_[((link + 1) & ~leaf) | (kSpareUp & leaf)] = static_cast<int16_t>(to);
}

// Exchanges the contents of two nodes of equal weight; each position keeps its parent.
inline void HuffmanModel::Swap(int i, int j) {
  Touch(i < j ? i : j);
  const int atI = link_[i];
  const int atJ = link_[j];
  link_[i] = static_cast<int16_t>(atJ);
  link_[j] = static_cast<int16_t>(atI);
  PointAt(atI, j);
  PointAt(atJ, i);
}

inline int HuffmanModel::Promote(int node) {
  const uint32_t weight = weight_[node];
  int at = node;
  if (node > 1 && weight_[node - 1] <= weight) {
    at = RunStart(node, weight);
    Swap(node, at);
  }
  weight_[at] = static_cast<uint16_t>(weight + 1);
  return at;
}

// The first node of the run of nodes of node's weight: node's contents move there, where
// they then outweigh the rest of the run and stay below the node before it. Weights never
// increase along the nodes, so the run is the nodes of that weight just before node.
int HuffmanModel::RunStart(int node, uint32_t weight) const {
  int start = node;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight weights at a time in two words, the one nearest node in the top 16 bits of the
  // near word; the highest bit that differs from the run's weight marks where the run
  // begins. Most runs end within eight nodes, and the choice between the words is made
  // without a branch, which would be as good as random.
  const uint64_t pattern = weight * 0x0001000100010001ull;
  while (start >= 8) {
    uint64_t near;
    uint64_t far;
    std::memcpy(&near, &weight_[start - 4], sizeof near);
    std::memcpy(&far, &weight_[start - 8], sizeof far);
    const uint64_t differNear = near ^ pattern;
    const uint64_t differFar = far ^ pattern;
    if ((differNear | differFar) != 0) {
      const int laneNear = (63 - __builtin_clzll(differNear | 1)) >> 4;
      const int laneFar = (63 - __builtin_clzll(differFar | 1)) >> 4;
      // Masked rather than selected: compilers turn a select of the two into a branch.
      const int nearAllEqual = -static_cast<int>(differNear == 0);
      return start - 3 + laneNear + ((laneFar - 4) & nearAllEqual);
    }
    start -= 8;
  }
#endif
  while (start > 1 && weight_[start - 1] <= weight) --start;
  return start;
}

void HuffmanModel::Update(int symbol) {
  if (weight_[kRoot] == kMaxWeight) Rebuild();
  Climb(up_[kLeafOf + symbol]);
}

void HuffmanModel::FinishDecodeCount(const Shortcut& start, int16_t* path, int depth,
                                     uint64_t moves, int symbol) {
  // The walk wrote on from the shortcut's end. That end is short of kShortcutBits, with
  // a walk after it, only when the node a shortcut ends at has since stopped being a
  // leaf; otherwise the whole shortcut path is copied at once.
  if (start.bits == kShortcutBits || depth == start.bits) {
    std::memcpy(path, start.path, sizeof start.path);
  } else {
    for (int i = 0; i <= start.bits; ++i) path[i] = start.path[i];
  }
  const bool byte = symbol >= 0 && symbol <= 255;
  const bool rebuildDue = (moves & 1) != 0;
  if (rebuildDue || !byte) {
    for (int i = 1; i <= depth; ++i) --weight_[path[i]];
    if (byte) Update(symbol);
    return;
  }
  // The walk counted every node on the path. Below the lowest node that must move, those
  // counts stand. From there the update climbs the parent links of where the contents
  // went; the walked nodes it leaves behind are lighter than the node it has reached, so
  // they cannot be above it and their counts are taken back, until the climb meets the
  // walked path again. Above that node the walk's counts stand as well, and whether a
  // walked node must move can still be told from the weights: nothing the climb changed
  // lies before a node as heavy.
  // The walk noted the depths of the nodes that must move. The climb does not change that
  // for the nodes above it, by the same token; a noted depth that turns out not to need a
  // move (the count of a shortcut's idle slot) costs a Promote that finds nothing to do.
  // The root is counted first: it then outweighs every other node even once that node is
  // counted, so the merge with the walked path stops at the root without a bounds check.
  ++weight_[kRoot];
  int i = depth;
  if (depth < 63 && ((moves >> depth) & 1) != 0) {
    // Most often the leaf itself must move. The walk has counted it and seen that it
    // moves, so its contents go straight to the start of its run.
    const int leaf = path[depth];
    const uint32_t weight = weight_[leaf] - 1u;
    const int at = RunStart(leaf, weight);
    Swap(leaf, at);
    weight_[leaf] = static_cast<uint16_t>(weight);
    weight_[at] = static_cast<uint16_t>(weight + 1);
    i = MergeWithWalk(path, depth - 1, up_[at]);
  }
  for (;;) {
    if (i >= 63 && (moves >> 63) != 0) {
      while (i > 0 && weight_[path[i] - 1] + 1u > weight_[path[i]]) --i;
    } else {
      moves &= (2ull << (i < 63 ? i : 63)) - 1;
      if (moves == 0) break;
      i = 63 - __builtin_clzll(moves);
    }
    if (i == 0) break;
    const int from = path[i--];
    --weight_[from];
    i = MergeWithWalk(path, i, up_[Promote(from)]);
  }
}

// Climbs from node, the new parent of contents that left the walked path, until it meets
// path again; returns the index of the meeting node. path[0] to path[i] are counted.
inline int HuffmanModel::MergeWithWalk(const int16_t* path, int i, int node) {
  for (;;) {
    const int walked = path[i];
    if (walked == node) return i;
    if (weight_[walked] <= weight_[node] + 1u) {
      --weight_[walked];
      --i;
    } else {
      node = up_[Promote(node)];
    }
  }
}

void HuffmanModel::UpdateAlong(const int16_t* path, int depth) {
  if (weight_[kRoot] == kMaxWeight) {
    Update(SymbolOf(path[depth]));
    return;
  }
  for (int i = depth; i > 0; --i) {
    const int node = path[i];
    const int at = Promote(node);
    if (at != node) {
      Climb(up_[at]);
      return;
    }
  }
  ++weight_[kRoot];
}

void HuffmanModel::Climb(int node) {
  while (node > kRoot) node = up_[Promote(node)];
  if (node == kRoot) ++weight_[kRoot];
}

void HuffmanModel::Rebuild() {
  shortcutReach_ = -1;
  const int count = nextFree_;
  // Leaves move to the end in their order, with halved weights (rounded up).
  int j = count - 1;
  for (int i = count - 1; i >= kRoot; --i) {
    if (link_[i] < 0) {
      weight_[j] = static_cast<uint16_t>((weight_[i] + 1) / 2);
      link_[j] = link_[i];
      --j;
    }
  }
  // Internal nodes pair up the nodes from the end and go in by weight.
  for (int i = count - 2; j >= kRoot; i -= 2, --j) {
    const uint32_t weight = weight_[i] + weight_[i + 1];
    // The nodes after j are in order of weight; the new one goes before those as light.
    const uint16_t* const notHeavier = std::partition_point(
        &weight_[j + 1], &weight_[count], [weight](uint16_t other) { return weight < other; });
    const int k = static_cast<int>(notHeavier - weight_) - 1;
    std::memmove(&weight_[j], &weight_[j + 1], sizeof weight_[0] * (k - j));
    std::memmove(&link_[j], &link_[j + 1], sizeof link_[0] * (k - j));
    weight_[k] = static_cast<uint16_t>(weight);
    link_[k] = static_cast<int16_t>(i);
  }
  for (int i = count - 1; i > kRoot; --i) {
    PointAt(link_[i], i);
  }
  PointAt(link_[kRoot], kRoot);
  up_[kRoot] = -1;
}

void HuffmanModel::BuildShortcuts() {
  int reach = kRoot;
  for (int prefix = 0; prefix < (1 << kShortcutBits); ++prefix) {
    Shortcut& shortcut = shortcuts_[prefix];
    int node = kRoot;
    int bits = 0;
    for (int16_t& passed : shortcut.path) passed = kIdleNode;
    shortcut.path[0] = kRoot;
    while (bits < kShortcutBits && link_[node] >= 0) {
      if (node > reach) reach = node;
      node = link_[node] + ((prefix >> (kShortcutBits - 1 - bits)) & 1);
      shortcut.path[++bits] = static_cast<int16_t>(node);
    }
    shortcut.node = static_cast<int16_t>(node);
    shortcut.bits = static_cast<int16_t>(bits);
  }
  shortcutReach_ = reach;
}

}  // namespace perimo
