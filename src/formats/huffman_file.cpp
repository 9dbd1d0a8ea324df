#include "formats/huffman_file.h"

namespace perimo {

bool CHuffmanFile::StartStream(Mode) {
  model_.Reset();
  ended_ = false;
  return true;
}

size_t CHuffmanFile::Decode(uint8_t* out, size_t count) {
  if (ended_) return 0;
  size_t done = 0;
  const int16_t* links = model_.Links();
  BitWindow window = bitIn_.Save();
  while (done < count) {
    if (window.count < HuffmanModel::kShortcutBits) window = bitIn_.Refilled(window);
    const HuffmanModel::Shortcut start =
        model_.Shortcuts()[window.bits >> (64 - HuffmanModel::kShortcutBits)];
    window.Skip(start.bits);
    int node = start.node;
    int link;
    while ((link = links[node]) >= 0) {
      if (window.count == 0) window = bitIn_.Refilled(window);
      node = link + static_cast<int>(window.Take(1));
    }
    const int symbol = ~link;
    if (symbol < HuffmanModel::kEndCode) {
      out[done++] = static_cast<uint8_t>(symbol);
      model_.Update(symbol);
      continue;
    }
    if (symbol == HuffmanModel::kEndCode) {
      ended_ = true;
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

// Sends the path from the root to the symbol's leaf: 0 for an odd node, 1 for an even one.
void CHuffmanFile::SendCode(int symbol) {
  uint8_t path[HuffmanModel::kNodeCount];
  int depth = 0;
  for (int node = model_.LeafOf(symbol); node != HuffmanModel::kRoot && node >= 0;
       node = model_.Parent(node)) {
    path[depth++] = (node & 1) == 0 ? 1 : 0;
  }
  while (depth > 0) {
    uint32_t bits = 0;
    int n = 0;
    while (depth > 0 && n < 32) {
      bits = bits << 1 | path[--depth];
      ++n;
    }
    bitOut_.Put(bits, n);
  }
}

void CHuffmanFile::Encode(const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int byte = data[i];
    if (model_.Contains(byte)) {
      SendCode(byte);
    } else {
      SendCode(HuffmanModel::kEscapeCode);
      bitOut_.Put(static_cast<uint32_t>(byte), 8);
      model_.Add(byte);
    }
    model_.Update(byte);
  }
}

void CHuffmanFile::EndStream() {
  SendCode(HuffmanModel::kEndCode);
}

}  // namespace perimo
