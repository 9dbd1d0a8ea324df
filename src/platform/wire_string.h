#pragma once
// Strings inside request payloads and replies. A request string is 8-bit (one byte a
// character, widened unsigned) or, while the connection's wide-strings flag is set, 16-bit
// little-endian units; an odd trailing byte in 16-bit mode is not a character. Readers never
// look past the span they are given.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace perimo::platform {

struct WireName {
  std::u16string text;
  size_t consumed = 0;  // bytes used, the terminator included when there was one
};

// Characters up to a zero character, the end of the payload, or (stopAtTab) a TAB.
WireName ReadWireName(std::span<const uint8_t> payload, bool wide, bool stopAtTab = false);

// Splits at TAB into `count` fields; parsing stops at the end of the payload or after
// count TABs; missing fields are empty. Zero characters are ordinary characters.
std::vector<std::u16string> ReadTabFields(std::span<const uint8_t> payload, bool wide,
                                          size_t count);

// As ReadTabFields, but a zero character inside a field ends that field's text (the rest
// of the field up to the next TAB is skipped).
std::vector<std::u16string> ReadTabFieldsZeroEnds(std::span<const uint8_t> payload, bool wide,
                                                  size_t count);

// Appends text: one byte a character ('?' above U+00FF), or 16-bit little-endian units.
void AppendWireText(std::vector<uint8_t>& out, std::u16string_view text, bool wide);
// Appends one zero character (one byte, or two when wide).
void AppendWireZero(std::vector<uint8_t>& out, bool wide);

void AppendU16(std::vector<uint8_t>& out, uint16_t value);
void AppendU32(std::vector<uint8_t>& out, uint32_t value);
void AppendU64(std::vector<uint8_t>& out, uint64_t value);
uint16_t LoadU16(const uint8_t* p);
uint32_t LoadU32(const uint8_t* p);

}  // namespace perimo::platform
