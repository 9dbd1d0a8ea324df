#include "platform/text.h"

#include <gtest/gtest.h>

namespace perimo::platform {
namespace {

TEST(Text, Utf8RoundTripsIncludingSupplementaryCharacters) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC \xF0\x9F\x98\x80";
  const std::u16string wide = FromUtf8(utf8);
  EXPECT_EQ(wide, u"Gr\u00FC\u00DFe \u20AC \U0001F600");
  EXPECT_EQ(ToUtf8(wide), utf8);
}

TEST(Text, InvalidUtf8BytesSurviveTheRoundTrip) {
  const std::string latin1Name = "caf\xE9.txt";  // a name written by a Latin-1 program
  EXPECT_FALSE(IsValidUtf8(latin1Name));
  EXPECT_EQ(ToUtf8(FromUtf8(latin1Name)), latin1Name);
  EXPECT_EQ(ToUtf8(u"\xD800"), "\xEF\xBF\xBD");  // a lone surrogate becomes U+FFFD
}

TEST(Text, Latin1WidensUnsignedAndNarrowsAboveFfToQuestionMark) {
  EXPECT_EQ(FromLatin1("\xE9\x80\xFF"), u"\u00E9\u0080\u00FF");
  EXPECT_EQ(ToLatin1(u"\u00E9\u00FF\u0100\u0141\uFFFFA"), "\xE9\xFF???A");
  EXPECT_EQ(ToLatin1(FromUtf8("caf\xE9\xC4\x80")), "caf\xE9?");  // a raw byte, then U+0100
}

TEST(Text, CaseFoldingCoversAsciiAndLatin1Letters) {
  EXPECT_TRUE(EqualsIgnoreCase(u"Caf\u00E9.INI", u"CAF\u00C9.ini"));
  EXPECT_FALSE(EqualsIgnoreCase(u"\u00F7", u"\u00D7"));  // division and multiplication signs
  EXPECT_FALSE(EqualsIgnoreCase(u"ab", u"abc"));
  EXPECT_EQ(ToUpper(u"a\u00FFz"), u"A\u0178Z");
  EXPECT_EQ(ToLower(u"A\u0178Z\u00C0"), u"a\u00FFz\u00E0");
}

}  // namespace
}  // namespace perimo::platform
