#include "platform/wire_string.h"

#include "platform/text.h"

namespace perimo::platform {

namespace {

// Walks the characters of a request payload: one byte each, widened unsigned, or 16-bit
// little-endian units; an odd last byte in wide mode is not a character.
class CharReader {
 public:
  CharReader(std::span<const uint8_t> payload, bool wide) : data_(payload), wide_(wide) {}
  bool AtEnd() const { return pos_ + Width() > data_.size(); }
  char16_t Next() {
    const char16_t c = wide_ ? static_cast<char16_t>(LoadU16(&data_[pos_])) : data_[pos_];
    pos_ += Width();
    return c;
  }
  size_t Position() const { return pos_; }

 private:
  size_t Width() const { return wide_ ? 2 : 1; }
  std::span<const uint8_t> data_;
  bool wide_;
  size_t pos_ = 0;
};

std::vector<std::u16string> ReadFields(std::span<const uint8_t> payload, bool wide, size_t count,
                                       bool zeroEndsField) {
  std::vector<std::u16string> fields(count);
  CharReader reader(payload, wide);
  size_t index = 0;
  bool fieldEnded = false;
  while (index < count && !reader.AtEnd()) {
    const char16_t c = reader.Next();
    if (c == u'\t') {
      ++index;
      fieldEnded = false;
    } else if (zeroEndsField && c == 0) {
      fieldEnded = true;
    } else if (!fieldEnded) {
      fields[index] += c;
    }
  }
  return fields;
}

}  // namespace

WireName ReadWireName(std::span<const uint8_t> payload, bool wide, bool stopAtTab) {
  WireName name;
  CharReader reader(payload, wide);
  while (!reader.AtEnd()) {
    const char16_t c = reader.Next();
    if (c == 0 || (stopAtTab && c == u'\t')) break;
    name.text += c;
  }
  name.consumed = reader.Position();
  return name;
}

std::vector<std::u16string> ReadTabFields(std::span<const uint8_t> payload, bool wide,
                                          size_t count) {
  return ReadFields(payload, wide, count, false);
}

std::vector<std::u16string> ReadTabFieldsZeroEnds(std::span<const uint8_t> payload, bool wide,
                                                  size_t count) {
  return ReadFields(payload, wide, count, true);
}

void AppendWireText(std::vector<uint8_t>& out, std::u16string_view text, bool wide) {
  for (const char16_t c : text) {
    if (wide) {
      AppendU16(out, c);
    } else {
      out.push_back(static_cast<uint8_t>(NarrowToLatin1(c)));
    }
  }
}

void AppendWireZero(std::vector<uint8_t>& out, bool wide) {
  out.push_back(0);
  if (wide) out.push_back(0);
}

void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendU64(std::vector<uint8_t>& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint16_t LoadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace perimo::platform
