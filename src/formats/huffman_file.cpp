#include "formats/huffman_file.h"

namespace perimo {

bool CHuffmanFile::StartStream(Mode) {
  model_.Reset();
  ended_ = false;
  return true;
}

size_t CHuffmanFile::Decode(uint8_t* out, size_t count) {
  size_t done = 0;
  const int16_t* links = model_.Links();
  while (done < count && !ended_) {
    int node = HuffmanModel::kRoot;
    while (links[node] >= 0) node = links[node] + static_cast<int>(bitIn_.GetBit());
    int symbol = ~links[node];
    if (symbol == HuffmanModel::kEscapeCode) {
      symbol = static_cast<int>(bitIn_.Get(8));
      if (!model_.Add(symbol)) {
        MarkCorrupt();
        break;
      }
    } else if (symbol == HuffmanModel::kEndCode) {
      ended_ = true;
      break;
    }
    out[done++] = static_cast<uint8_t>(symbol);
    model_.Update(symbol);
  }
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
