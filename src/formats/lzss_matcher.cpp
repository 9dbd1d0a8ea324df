#include "formats/lzss_matcher.h"

#include <cstring>

namespace perimo {
namespace {

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return __builtin_bswap64(word);
}

static_assert(kLzssLookAhead == 17, "CommonPrefix compares two words and one byte");

// Length of the common start of two look-ahead strings, up to kLzssLookAhead.
int CommonPrefix(const uint8_t* a, const uint8_t* b) {
  for (int at = 0; at < 16; at += 8) {
    const uint64_t diff = LoadBigEndian64(a + at) ^ LoadBigEndian64(b + at);
    if (diff != 0) return at + __builtin_clzll(diff) / 8;
  }
  return a[16] == b[16] ? kLzssLookAhead : 16;
}

}  // namespace

LzssMatcher::LzssMatcher() {
  std::memset(window_, 0, sizeof window_);
  std::memset(tree_, 0, sizeof tree_);
}

void LzssMatcher::Set(unsigned position, uint8_t byte) {
  position &= kLzssWindowMask;
  window_[position] = byte;
  if (position < static_cast<unsigned>(kLzssLookAhead)) window_[kLzssWindowSize + position] = byte;
}

void LzssMatcher::Start(unsigned position) {
  tree_[kTreeRoot].larger = static_cast<uint16_t>(position);
  tree_[position] = Node{kTreeRoot, kUnused, kUnused};
}

int LzssMatcher::Add(unsigned position, int* matchPosition) {
  if (position == kUnused) return 0;
  const uint8_t* fresh = &window_[position];
  unsigned test = tree_[kTreeRoot].larger;
  int matchLength = 0;
  for (;;) {
    const uint8_t* old = &window_[test];
    int i = CommonPrefix(fresh, old);
    const int delta = i < kLzssLookAhead ? fresh[i] - old[i] : 0;
    if (i >= matchLength) {
      matchLength = i;
      *matchPosition = static_cast<int>(test);
      if (matchLength >= kLzssLookAhead) {
        // Same string: the newer position takes the older one's place in the tree.
        Replace(test, position);
        return matchLength;
      }
    }
    uint16_t& child = delta >= 0 ? tree_[test].larger : tree_[test].smaller;
    if (child == kUnused) {
      child = static_cast<uint16_t>(position);
      tree_[position] = Node{static_cast<uint16_t>(test), kUnused, kUnused};
      return matchLength;
    }
    test = child;
  }
}

void LzssMatcher::Remove(unsigned position) {
  if (position == kUnused || tree_[position].parent == kUnused) return;
  if (tree_[position].larger == kUnused) {
    Contract(position, tree_[position].smaller);
  } else if (tree_[position].smaller == kUnused) {
    Contract(position, tree_[position].larger);
  } else {
    const unsigned replacement = Predecessor(position);
    Remove(replacement);
    Replace(position, replacement);
  }
}

// Lets the node's only child take its place.
void LzssMatcher::Contract(unsigned oldNode, unsigned newNode) {
  const unsigned parent = tree_[oldNode].parent;
  tree_[newNode].parent = static_cast<uint16_t>(parent);
  if (tree_[parent].larger == oldNode) {
    tree_[parent].larger = static_cast<uint16_t>(newNode);
  } else {
    tree_[parent].smaller = static_cast<uint16_t>(newNode);
  }
  tree_[oldNode].parent = kUnused;
}

void LzssMatcher::Replace(unsigned oldNode, unsigned newNode) {
  const unsigned parent = tree_[oldNode].parent;
  if (tree_[parent].smaller == oldNode) {
    tree_[parent].smaller = static_cast<uint16_t>(newNode);
  } else {
    tree_[parent].larger = static_cast<uint16_t>(newNode);
  }
  tree_[newNode] = tree_[oldNode];
  tree_[tree_[newNode].smaller].parent = static_cast<uint16_t>(newNode);
  tree_[tree_[newNode].larger].parent = static_cast<uint16_t>(newNode);
  tree_[oldNode].parent = kUnused;
}

unsigned LzssMatcher::Predecessor(unsigned node) const {
  unsigned next = tree_[node].smaller;
  while (tree_[next].larger != kUnused) next = tree_[next].larger;
  return next;
}

}  // namespace perimo
