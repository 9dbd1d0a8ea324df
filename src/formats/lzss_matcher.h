#pragma once
// The LZSS encoder's window with a binary search tree over the strings that start in it,
// ordered by their next 17 bytes, to find the longest earlier match of the look-ahead.
#include <cstdint>

namespace perimo {

inline constexpr unsigned kLzssWindowSize = 4096;
inline constexpr unsigned kLzssWindowMask = kLzssWindowSize - 1;
inline constexpr int kLzssLookAhead = 17;
inline constexpr int kLzssPositionBits = 12;
inline constexpr int kLzssLengthBits = 4;
inline constexpr int kLzssMinMatch = 2;

class LzssMatcher {
 public:
  LzssMatcher();

  uint8_t At(unsigned position) const { return window_[position & kLzssWindowMask]; }
  void Set(unsigned position, uint8_t byte);

  // Starts the tree with the single string at position.
  void Start(unsigned position);
  // Adds the string at position (never 0, which is the end marker) and returns the length
  // of the longest match among the strings in the tree, with its position.
  int Add(unsigned position, int* matchPosition);
  void Remove(unsigned position);

 private:
  static constexpr unsigned kUnused = 0;  // position 0 never holds a string
  static constexpr unsigned kTreeRoot = kLzssWindowSize;

  struct Node {
    uint16_t parent;
    uint16_t smaller;
    uint16_t larger;
  };

  void Contract(unsigned oldNode, unsigned newNode);
  void Replace(unsigned oldNode, unsigned newNode);
  unsigned Predecessor(unsigned node) const;

  // The window with its first look-ahead bytes repeated at the end, so a string can be
  // compared without wrapping.
  uint8_t window_[kLzssWindowSize + kLzssLookAhead];
  Node tree_[kLzssWindowSize + 1];
};

}  // namespace perimo
