#pragma once
// The Rijndael S-boxes and round lookup tables, derived at compile time from the field
// GF(2^8) with the polynomial x^8 + x^4 + x^3 + x + 1, so no hand-typed constant can be wrong.
#include <array>
#include <cstdint>

namespace perimo::rijndael {

constexpr uint8_t XTime(uint8_t x) {
  return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00));
}

constexpr uint8_t Multiply(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b) {
    if (b & 1) product ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return product;
}

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}

constexpr uint32_t RotateRight(uint32_t w, int bits) {
  return (w >> bits) | (w << (32 - bits));
}

struct Tables {
  std::array<uint8_t, 256> sbox{};
  std::array<uint8_t, 256> inverseSbox{};
  // Round tables: S-box and MixColumns (te) or inverse S-box and InvMixColumns (td), one per
  // row position of the input byte.
  std::array<std::array<uint32_t, 256>, 4> te{};
  std::array<std::array<uint32_t, 256>, 4> td{};
  std::array<uint8_t, 30> rcon{};
};

constexpr Tables MakeTables() {
  Tables t;
  // Powers of the generator 3 give logarithms, hence inverses.
  std::array<uint8_t, 256> exp{};
  std::array<uint8_t, 256> log{};
  uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = x;
    log[x] = static_cast<uint8_t>(i);
    x = Multiply(x, 3);
  }
  for (int i = 0; i < 256; ++i) {
    const uint8_t inverse = i == 0 ? 0 : exp[(255 - log[i]) % 255];
    uint8_t s = inverse;
    uint8_t rotated = inverse;
    for (int k = 0; k < 4; ++k) {
      rotated = static_cast<uint8_t>((rotated << 1) | (rotated >> 7));
      s ^= rotated;
    }
    s ^= 0x63;
    t.sbox[i] = s;
    t.inverseSbox[s] = static_cast<uint8_t>(i);
  }
  for (int i = 0; i < 256; ++i) {
    const uint8_t s = t.sbox[i];
    const uint32_t e = Word(Multiply(s, 2), s, s, Multiply(s, 3));
    const uint8_t v = t.inverseSbox[i];
    const uint32_t d = Word(Multiply(v, 14), Multiply(v, 9), Multiply(v, 13), Multiply(v, 11));
    for (int r = 0; r < 4; ++r) {
      t.te[r][i] = r == 0 ? e : RotateRight(e, 8 * r);
      t.td[r][i] = r == 0 ? d : RotateRight(d, 8 * r);
    }
  }
  uint8_t r = 1;
  for (auto& c : t.rcon) {
    c = r;
    r = XTime(r);
  }
  return t;
}

inline constexpr Tables kTables = MakeTables();

}  // namespace perimo::rijndael
