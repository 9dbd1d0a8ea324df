#include "formats/huffman_file.h"

namespace perimo {

bool CHuffmanFile::StartStream(Mode) {
  model_.Reset();
  ended_ = false;
  return true;
}

size_t CHuffmanFile::Decode(uint8_t* out, size_t count) {
  if (ended_) return 0;
  uint8_t* at = out;
  uint8_t* const end = out + count;
  BitWindow window = bitIn_.Save();
  const auto refill = [this](BitWindow& w) { w = bitIn_.RefilledInline(w); };
  while (at != end) {
    const int symbol = model_.Decode(window, refill);
    if (static_cast<unsigned>(symbol) < HuffmanModel::kEndCode) {
      *at++ = static_cast<uint8_t>(symbol);
      continue;
    }
    bitIn_.Restore(window);
    const int byte = DecodeSpecial(symbol);
    window = bitIn_.Save();
    if (byte < 0) break;
    *at++ = static_cast<uint8_t>(byte);
  }
  bitIn_.Restore(window);
  return static_cast<size_t>(at - out);
}

int CHuffmanFile::DecodeSpecial(int symbol) {
  if (symbol == HuffmanModel::kEndCode) {
    ended_ = true;
    return -1;
  }
  if (symbol != HuffmanModel::kEscapeCode) {
    MarkCorrupt();
    return -1;
  }
  BitWindow window = bitIn_.Save();
  if (window.count < 8) window = bitIn_.Refilled(window);
  const int byte = static_cast<int>(window.Take(8));
  bitIn_.Restore(window);
  if (!model_.Add(byte)) {
    MarkCorrupt();
    return -1;
  }
  model_.Update(byte);
  return byte;
}

void CHuffmanFile::Encode(const uint8_t* data, size_t count) {
  const auto put = [this](uint32_t bits, int n) { bitOut_.Put(bits, n); };
  for (size_t i = 0; i < count; ++i) {
    const int byte = data[i];
    if (model_.Contains(byte)) {
      model_.Encode(byte, true, put);
      continue;
    }
    model_.Encode(HuffmanModel::kEscapeCode, false, put);
    bitOut_.Put(static_cast<uint32_t>(byte), 8);
    model_.Add(byte);
    model_.Update(byte);
  }
}

void CHuffmanFile::EndStream() {
  model_.Encode(HuffmanModel::kEndCode, false,
                [this](uint32_t bits, int n) { bitOut_.Put(bits, n); });
}

}  // namespace perimo
