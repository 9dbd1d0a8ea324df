#include "formats/huffman_file.h"

namespace perimo {

namespace {

// A walk from the root never passes more internal nodes than the tree holds.
constexpr int kMaxDepth = HuffmanModel::kNodeCount / 2;

}  // namespace

bool CHuffmanFile::StartStream(Mode) {
  model_.Reset();
  ended_ = false;
  return true;
}

size_t CHuffmanFile::Decode(uint8_t* out, size_t count) {
  if (ended_) return 0;
  size_t done = 0;
  const int16_t* links = model_.Links();
  // The nodes walked through for the current symbol, root first.
  int16_t path[kMaxDepth + 1];
  BitWindow window = bitIn_.Save();
  while (done < count) {
    if (window.count < HuffmanModel::kShortcutBits) window = bitIn_.Refilled(window);
    const HuffmanModel::Shortcut& start =
        model_.Shortcuts()[window.bits >> (64 - HuffmanModel::kShortcutBits)];
    for (int i = 0; i <= HuffmanModel::kShortcutBits; ++i) path[i] = start.path[i];
    window.Skip(start.bits);
    int depth = start.bits;
    int node = start.node;
    int link;
    while ((link = links[node]) >= 0 && depth < kMaxDepth) {
      if (window.count == 0) window = bitIn_.Refilled(window);
      node = link + static_cast<int>(window.Take(1));
      path[++depth] = static_cast<int16_t>(node);
    }
    const int symbol = ~link;
    if (symbol < HuffmanModel::kEndCode) {
      out[done++] = static_cast<uint8_t>(symbol);
      model_.UpdateAlong(path, depth);
      continue;
    }
    if (symbol == HuffmanModel::kEndCode) {
      ended_ = true;
      break;
    }
    if (symbol != HuffmanModel::kEscapeCode) {
      MarkCorrupt();
      break;
    }
    if (window.count < 8) window = bitIn_.Refilled(window);
    const int byte = static_cast<int>(window.Take(8));
    if (!model_.Add(byte)) {
      MarkCorrupt();
      break;
    }
    out[done++] = static_cast<uint8_t>(byte);
    model_.Update(byte);
  }
  bitIn_.Restore(window);
  return done;
}

// Sends the path from the root to the symbol's leaf, 0 for an odd node and 1 for an even
// one, and returns the nodes on it, root first, in path[0 .. *depth].
const int16_t* CHuffmanFile::SendCode(int symbol, int16_t* buffer, int* depth) {
  int16_t* path = buffer + kMaxDepth;
  int node = model_.LeafOf(symbol);
  *path = static_cast<int16_t>(node);
  uint64_t code = 0;
  int length = 0;
  while (node > HuffmanModel::kRoot && path > buffer) {
    code |= static_cast<uint64_t>((node & 1) ^ 1) << (length & 63);
    ++length;
    node = model_.Parent(node);
    *--path = static_cast<int16_t>(node);
  }
  *depth = length;
  if (length <= 32) {
    if (length > 0) bitOut_.Put(static_cast<uint32_t>(code), length);
    return path;
  }
  // Deeper than one word: the bits again, root first, from the nodes.
  for (int i = 1; i <= length; ++i) bitOut_.Put(static_cast<uint32_t>((path[i] & 1) ^ 1), 1);
  return path;
}

void CHuffmanFile::Encode(const uint8_t* data, size_t count) {
  int16_t buffer[kMaxDepth + 1];
  int depth;
  for (size_t i = 0; i < count; ++i) {
    const int byte = data[i];
    if (model_.Contains(byte)) {
      const int16_t* path = SendCode(byte, buffer, &depth);
      model_.UpdateAlong(path, depth);
      continue;
    }
    SendCode(HuffmanModel::kEscapeCode, buffer, &depth);
    bitOut_.Put(static_cast<uint32_t>(byte), 8);
    model_.Add(byte);
    model_.Update(byte);
  }
}

void CHuffmanFile::EndStream() {
  int16_t buffer[kMaxDepth + 1];
  int depth;
  SendCode(HuffmanModel::kEndCode, buffer, &depth);
}

}  // namespace perimo
