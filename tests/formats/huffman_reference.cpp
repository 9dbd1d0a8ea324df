#include "formats/huffman_reference.h"

namespace perimo::test {

ReferenceHuffman::ReferenceHuffman() {
  for (int& node : leaf_) node = -1;
  nodes_[0] = Node{2, -1, false, 1};
  nodes_[1] = Node{1, 0, true, kEnd};
  nodes_[2] = Node{1, 0, true, kEscape};
  leaf_[kEnd] = 1;
  leaf_[kEscape] = 2;
}

void ReferenceHuffman::Add(int byte) {
  const int lightest = nextFree_ - 1;
  nodes_[lightest + 1] = nodes_[lightest];
  nodes_[lightest + 1].parent = lightest;
  leaf_[nodes_[lightest + 1].child] = lightest + 1;
  nodes_[lightest + 2] = Node{0, lightest, true, byte};
  leaf_[byte] = lightest + 2;
  nodes_[lightest].isLeaf = false;
  nodes_[lightest].child = lightest + 1;
  nextFree_ += 2;
}

// Points the leaf table or the children's parent links at what node holds.
void ReferenceHuffman::Relink(int node) {
  if (nodes_[node].isLeaf) {
    leaf_[nodes_[node].child] = node;
  } else {
    nodes_[nodes_[node].child].parent = node;
    nodes_[nodes_[node].child + 1].parent = node;
  }
}

void ReferenceHuffman::Swap(int i, int j) {
  Node a = nodes_[i];
  Node b = nodes_[j];
  a.parent = nodes_[j].parent;
  b.parent = nodes_[i].parent;
  nodes_[i] = b;
  nodes_[j] = a;
  Relink(i);
  Relink(j);
}

void ReferenceHuffman::Update(int symbol) {
  if (nodes_[0].weight == 0x8000) Rebuild();
  int node = leaf_[symbol];
  while (node >= 0) {
    ++nodes_[node].weight;
    int to = node;
    while (to > 1 && nodes_[to - 1].weight < nodes_[node].weight) --to;
    if (to != node) {
      Swap(node, to);
      node = to;
    }
    node = nodes_[node].parent;
  }
}

void ReferenceHuffman::Rebuild() {
  const int count = nextFree_;
  int j = count - 1;
  for (int i = count - 1; i >= 0; --i) {
    if (nodes_[i].isLeaf) {
      nodes_[j] = nodes_[i];
      nodes_[j].weight = (nodes_[i].weight + 1) / 2;
      --j;
    }
  }
  for (int i = count - 2; j >= 0; i -= 2, --j) {
    const uint32_t weight = nodes_[i].weight + nodes_[i + 1].weight;
    int k = j + 1;
    while (k < count && nodes_[k].weight > weight) ++k;
    for (int m = j + 1; m < k; ++m) nodes_[m - 1] = nodes_[m];
    nodes_[k - 1] = Node{weight, 0, false, i};
  }
  for (int i = count - 1; i >= 0; --i) Relink(i);
  nodes_[0].parent = -1;
}

Bytes ReferenceHuffman::Encode(const Bytes& data) {
  ReferenceHuffman model;
  BitPacker bits;
  auto send = [&](int symbol) {
    std::vector<int> path;
    for (int node = model.leaf_[symbol]; node != 0; node = model.nodes_[node].parent) {
      path.push_back(node % 2 == 0 ? 1 : 0);
    }
    for (auto bit = path.rbegin(); bit != path.rend(); ++bit) bits.Put(*bit, 1);
  };
  for (uint8_t byte : data) {
    if (model.leaf_[byte] >= 0) {
      send(byte);
    } else {
      send(kEscape);
      bits.Put(byte, 8);
      model.Add(byte);
    }
    model.Update(byte);
  }
  send(kEnd);
  return bits.Finish();
}

ReferenceHuffman::Decoded ReferenceHuffman::Decode(const Bytes& stream, size_t limit) {
  ReferenceHuffman model;
  Decoded out;
  size_t position = 0;
  auto bit = [&] {
    const size_t at = position++;
    if (at >= stream.size() * 8) {
      out.pastEnd = true;
      return 1;
    }
    return (stream[at / 8] >> (7 - at % 8)) & 1;
  };
  while (out.data.size() < limit) {
    int node = 0;
    while (!model.nodes_[node].isLeaf) node = model.nodes_[node].child + bit();
    int symbol = model.nodes_[node].child;
    if (symbol == kEnd) {
      out.ended = true;
      break;
    }
    if (symbol == kEscape) {
      symbol = 0;
      for (int i = 0; i < 8; ++i) symbol = symbol << 1 | bit();
      if (model.leaf_[symbol] >= 0) {
        out.corrupt = true;
        break;
      }
      model.Add(symbol);
    }
    out.data.push_back(static_cast<uint8_t>(symbol));
    model.Update(symbol);
  }
  return out;
}

}  // namespace perimo::test
