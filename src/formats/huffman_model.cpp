#include "formats/huffman_model.h"

#include <cstring>

namespace perimo {

void HuffmanModel::Reset() {
  std::memset(weight_, 0, sizeof weight_);
  std::memset(parent_, 0, sizeof parent_);
  std::memset(link_, 0, sizeof link_);
  for (int16_t& node : leaf_) node = -1;
  weight_[kRoot] = 2;
  parent_[kRoot] = -1;
  link_[kRoot] = 1;
  weight_[1] = 1;
  parent_[1] = kRoot;
  link_[1] = ~kEndCode;
  weight_[2] = 1;
  parent_[2] = kRoot;
  link_[2] = ~kEscapeCode;
  leaf_[kEndCode] = 1;
  leaf_[kEscapeCode] = 2;
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
  parent_[copy] = static_cast<int16_t>(lightest);
  leaf_[~link_[copy]] = static_cast<int16_t>(copy);
  weight_[fresh] = 0;
  link_[fresh] = static_cast<int16_t>(~byte);
  parent_[fresh] = static_cast<int16_t>(lightest);
  leaf_[byte] = static_cast<int16_t>(fresh);
  link_[lightest] = static_cast<int16_t>(copy);
  nextFree_ += 2;
  return true;
}

void HuffmanModel::Update(int symbol) {
  if (weight_[kRoot] == kMaxWeight) Rebuild();
  Climb(leaf_[symbol]);
}

void HuffmanModel::Climb(int node) {
  while (node >= 0) {
    const uint32_t weight = ++weight_[node];
    if (node > 1 && weight_[node - 1] < weight) {
      const int leader = RunLeader(node, weight);
      Swap(node, leader);
      node = leader;
    }
    node = parent_[node];
  }
}

int HuffmanModel::RunLeader(int node, uint32_t weight) const {
  // Weights never increase along the nodes: gallop back from node - 1, which is lighter,
  // until a node that is not, then halve the last gap. Runs are mostly short.
  int lighter = node - 1;
  int step = 1;
  int first = 1;
  while (lighter - step >= 1) {
    if (weight_[lighter - step] >= weight) {
      first = lighter - step + 1;
      break;
    }
    lighter -= step;
    step *= 2;
  }
  // The leader is in [first, lighter].
  const uint32_t* at = weight_ + first;
  int length = lighter - first + 1;
  while (length > 1) {
    const int half = length / 2;
    at += at[half - 1] < weight ? 0 : half;
    length -= half;
  }
  return static_cast<int>(at - weight_);
}

// Points the leaf table, or the children's parent links, of what node `from` holds at `to`.
void HuffmanModel::PointAt(int from, int to) {
  const int link = link_[from];
  if (link < 0) {
    leaf_[~link] = static_cast<int16_t>(to);
  } else {
    parent_[link] = static_cast<int16_t>(to);
    parent_[link + 1] = static_cast<int16_t>(to);
  }
}

// Exchanges weight and contents; each position keeps its parent.
void HuffmanModel::Swap(int i, int j) {
  Touch(i < j ? i : j);
  PointAt(i, j);
  PointAt(j, i);
  const uint32_t weight = weight_[i];
  weight_[i] = weight_[j];
  weight_[j] = weight;
  const int16_t link = link_[i];
  link_[i] = link_[j];
  link_[j] = link;
}

void HuffmanModel::Rebuild() {
  shortcutReach_ = -1;
  const int count = nextFree_;
  // Leaves move to the end in their order, with halved weights (rounded up).
  int j = count - 1;
  for (int i = count - 1; i >= kRoot; --i) {
    if (link_[i] < 0) {
      weight_[j] = (weight_[i] + 1) / 2;
      link_[j] = link_[i];
      --j;
    }
  }
  // Internal nodes pair up the nodes from the end and go in by weight.
  for (int i = count - 2; j >= kRoot; i -= 2, --j) {
    const uint32_t weight = weight_[i] + weight_[i + 1];
    int k = j + 1;
    while (k < count && weight < weight_[k]) ++k;
    --k;
    std::memmove(&weight_[j], &weight_[j + 1], sizeof weight_[0] * (k - j));
    std::memmove(&link_[j], &link_[j + 1], sizeof link_[0] * (k - j));
    weight_[k] = weight;
    link_[k] = static_cast<int16_t>(i);
  }
  for (int i = count - 1; i >= kRoot; --i) {
    if (link_[i] < 0) {
      leaf_[~link_[i]] = static_cast<int16_t>(i);
    } else {
      parent_[link_[i]] = static_cast<int16_t>(i);
      parent_[link_[i] + 1] = static_cast<int16_t>(i);
    }
  }
  parent_[kRoot] = -1;
}

void HuffmanModel::BuildShortcuts() {
  int reach = kRoot;
  for (int prefix = 0; prefix < (1 << kShortcutBits); ++prefix) {
    int node = kRoot;
    int bits = 0;
    while (bits < kShortcutBits && link_[node] >= 0) {
      if (node > reach) reach = node;
      node = link_[node] + ((prefix >> (kShortcutBits - 1 - bits)) & 1);
      ++bits;
    }
    shortcuts_[prefix] = Shortcut{static_cast<int16_t>(node), static_cast<int16_t>(bits)};
  }
  shortcutReach_ = reach;
}

}  // namespace perimo
