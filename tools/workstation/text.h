#pragma once
// Names as the workstation holds them (UTF-8) and as they travel (UTF-16 code units, or one
// byte per character in 8-bit mode).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace perimo::workstation {

// Invalid sequences become U+FFFD.
std::u16string FromUtf8(std::string_view text);
std::string ToUtf8(std::u16string_view text);

// 8-bit form of a name: nullopt when a character lies above U+00FF.
std::optional<std::string> ToLatin1(std::u16string_view text);

}  // namespace perimo::workstation
