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
  BitWindow window = bitIn_.Save();
  const auto refill = [this](BitWindow& w) { w = bitIn_.Refilled(w); };
  while (done < count) {
    const int symbol = model_.Decode(window, refill);
    if (symbol >= 0 && symbol < HuffmanModel::kEndCode) {
      out[done++] = static_cast<uint8_t>(symbol);
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
