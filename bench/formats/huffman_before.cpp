// The adaptive Huffman coder as it was before its tree update and descent were reworked,
// kept here only so that the benchmark can time the current one against it in the same run.
#include "huffman_before.h"

#include <cstring>
#include <memory>

#include "formats/bit_io.h"

namespace perimo::bench {
namespace {

class ModelBefore {
 public:
  static constexpr int kEndCode = 256;
  static constexpr int kEscapeCode = 257;
  static constexpr int kSymbolCount = 258;
  static constexpr int kNodeCount = 515;
  static constexpr int kRoot = 0;
  // The root's weight at which the tree is rebuilt with halved weights.
  static constexpr uint32_t kMaxWeight = 0x8000;

  ModelBefore() { Reset(); }
  // Root with the end code (node 1) and the escape code (node 2), weight 1 each.
  void Reset();

  bool Contains(int symbol) const { return leaf_[symbol] >= 0; }
  int LeafOf(int symbol) const { return leaf_[symbol]; }
  int Parent(int node) const { return parent_[node]; }
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

  // The decoder's shortcut through the first kShortcutBits levels: for the next bits of the
  // stream, the node they lead to from the root and how many of them that takes (fewer
  // when a leaf comes first).
  static constexpr int kShortcutBits = 4;
  struct Shortcut {
    int16_t node;
    int16_t bits;
  };
  const Shortcut* Shortcuts() {
    if (shortcutReach_ < 0) BuildShortcuts();
    return shortcuts_;
  }

 private:
  void BuildShortcuts();
  // A change of node's contents invalidates the shortcuts when they pass through it.
  void Touch(int node) {
    if (node <= shortcutReach_) shortcutReach_ = -1;
  }
  // Counts one more occurrence at node and at each node above it.
  void Climb(int node);
  // The first node of the run that is now lighter than node, which just gained weight and
  // is heavier than the node before it.
  int RunLeader(int node, uint32_t weight) const;
  void Rebuild();
  void Swap(int i, int j);
  void PointAt(int from, int to);

  uint32_t weight_[kNodeCount];
  int16_t parent_[kNodeCount];
  int16_t link_[kNodeCount];
  int16_t leaf_[kSymbolCount];
  int nextFree_;
  Shortcut shortcuts_[1 << kShortcutBits];
  // The highest internal node the shortcuts pass through; -1 when they must be rebuilt.
  int shortcutReach_ = -1;
};

void ModelBefore::Reset() {
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

bool ModelBefore::Add(int byte) {
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

void ModelBefore::Update(int symbol) {
  if (weight_[kRoot] == kMaxWeight) Rebuild();
  Climb(leaf_[symbol]);
}

void ModelBefore::Climb(int node) {
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

int ModelBefore::RunLeader(int node, uint32_t weight) const {
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
void ModelBefore::PointAt(int from, int to) {
  const int link = link_[from];
  if (link < 0) {
    leaf_[~link] = static_cast<int16_t>(to);
  } else {
    parent_[link] = static_cast<int16_t>(to);
    parent_[link + 1] = static_cast<int16_t>(to);
  }
}

// Exchanges weight and contents; each position keeps its parent.
void ModelBefore::Swap(int i, int j) {
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

void ModelBefore::Rebuild() {
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

void ModelBefore::BuildShortcuts() {
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

void SendCode(ModelBefore& model, BitWriter& out, int symbol) {
  uint8_t path[ModelBefore::kNodeCount];
  int depth = 0;
  for (int node = model.LeafOf(symbol); node != ModelBefore::kRoot && node >= 0;
       node = model.Parent(node)) {
    path[depth++] = (node & 1) == 0 ? 1 : 0;
  }
  while (depth > 0) {
    uint32_t bits = 0;
    int n = 0;
    while (depth > 0 && n < 32) {
      bits = bits << 1 | path[--depth];
      ++n;
    }
    out.Put(bits, n);
  }
}

}  // namespace

size_t DecodeHuffmanBefore(const uint8_t* stream, size_t size, uint8_t* out, size_t count) {
  auto model = std::make_unique<ModelBefore>();
  ByteInput input;
  input.AttachMemory(stream, size);
  BitReader bitIn(&input);
  size_t done = 0;
  const int16_t* links = model->Links();
  BitWindow window = bitIn.Save();
  while (done < count) {
    if (window.count < ModelBefore::kShortcutBits) window = bitIn.Refilled(window);
    const ModelBefore::Shortcut start =
        model->Shortcuts()[window.bits >> (64 - ModelBefore::kShortcutBits)];
    window.Skip(start.bits);
    int node = start.node;
    int link;
    while ((link = links[node]) >= 0) {
      if (window.count == 0) window = bitIn.Refilled(window);
      node = link + static_cast<int>(window.Take(1));
    }
    const int symbol = ~link;
    if (symbol < ModelBefore::kEndCode) {
      out[done++] = static_cast<uint8_t>(symbol);
      model->Update(symbol);
      continue;
    }
    if (symbol == ModelBefore::kEndCode) break;
    if (window.count < 8) window = bitIn.Refilled(window);
    const int byte = static_cast<int>(window.Take(8));
    if (!model->Add(byte)) break;
    out[done++] = static_cast<uint8_t>(byte);
    model->Update(byte);
  }
  return done;
}

bool EncodeHuffmanBefore(const uint8_t* data, size_t count, int fd) {
  auto model = std::make_unique<ModelBefore>();
  ByteOutput output;
  output.AttachFile(fd);
  BitWriter bitOut(&output);
  for (size_t i = 0; i < count; ++i) {
    const int byte = data[i];
    if (model->Contains(byte)) {
      SendCode(*model, bitOut, byte);
    } else {
      SendCode(*model, bitOut, ModelBefore::kEscapeCode);
      bitOut.Put(static_cast<uint32_t>(byte), 8);
      model->Add(byte);
    }
    model->Update(byte);
  }
  SendCode(*model, bitOut, ModelBefore::kEndCode);
  bitOut.Finish();
  return output.Flush();
}

}  // namespace perimo::bench
