#pragma once
// A deliberately plain adaptive Huffman coder: one node at a time, linear searches, no
// tables. The file classes must produce and accept exactly its streams, whatever tricks
// they use for speed.
#include <cstdint>

#include "formats/format_test_support.h"

namespace perimo::test {

class ReferenceHuffman {
 public:
  // The bit stream (no header) for data, closed by the end code and padded with 0-bits.
  static Bytes Encode(const Bytes& data);

  struct Decoded {
    Bytes data;
    bool ended = false;    // the end code was read
    bool corrupt = false;  // an escape named a byte already in the tree
    bool pastEnd = false;  // bits past the end of the stream were needed
  };
  // Decodes at most limit bytes; past the end of the stream it reads 1-bits.
  static Decoded Decode(const Bytes& stream, size_t limit);

 private:
  static constexpr int kEnd = 256;
  static constexpr int kEscape = 257;
  static constexpr int kNodes = 515;

  struct Node {
    uint32_t weight = 0;
    int parent = 0;
    bool isLeaf = false;
    int child = 0;  // first child, or the symbol of a leaf
  };

  ReferenceHuffman();
  void Add(int byte);
  void Update(int symbol);
  void Rebuild();
  void Swap(int i, int j);
  void Relink(int node);

  Node nodes_[kNodes];
  int leaf_[258];
  int nextFree_ = 3;
};

}  // namespace perimo::test
