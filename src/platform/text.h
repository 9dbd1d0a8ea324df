#pragma once
// Text conversions. Wire text is UTF-16 code units (std::u16string); Linux file names and
// text files are UTF-8. Conversions between the two happen here only.
#include <string>
#include <string_view>

namespace perimo::platform {

std::string ToUtf8(std::u16string_view text);
// Bytes that are not valid UTF-8 become U+DC80..U+DCFF and ToUtf8 turns them back, so any
// native name round-trips.
std::u16string FromUtf8(std::string_view text);
bool IsValidUtf8(std::string_view text);
// Each byte is one character, widened unsigned (Latin-1): 0xE9 becomes U+00E9.
std::u16string FromLatin1(std::string_view bytes);
// One byte a character; a character Latin-1 cannot hold becomes '?' (keeping only its
// low byte would shift every later field of a reply: U+0100 would become a terminator).
// The escapes U+DC80..U+DCFF of FromUtf8 become their byte again.
char NarrowToLatin1(char16_t c);
std::string ToLatin1(std::u16string_view text);
// Convenience for ASCII literals and numbers.
std::u16string Ascii(std::string_view ascii);

// Case folding as Windows compares names and profile keys: ASCII and Latin-1 letters.
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
std::u16string ToUpper(std::u16string_view text);
std::u16string ToLower(std::u16string_view text);

}  // namespace perimo::platform
