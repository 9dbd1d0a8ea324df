#pragma once
// Helpers shared by the cipher and digest tests: hexadecimal forms, seeded random bytes, and
// a parameter that runs a test once with the processor's instructions and once without.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "security/cpu_features.h"

namespace perimo::test {

inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline std::string ToHex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}

template <typename Container>
std::string ToHex(const Container& c) {
  return ToHex(c.data(), c.size());
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Parameter true: hardware instructions allowed (when the processor has them).
class AccelerationParam : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { SetCryptoAccelerationEnabled(GetParam()); }
  void TearDown() override { SetCryptoAccelerationEnabled(true); }
};

inline std::string PathName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Hardware" : "Portable";
}

}  // namespace perimo::test
