#include "platform/wire_string.h"

#include <gtest/gtest.h>

namespace perimo::platform {
namespace {

std::span<const uint8_t> Bytes(const std::vector<uint8_t>& v) {
  return {v.data(), v.size()};
}

TEST(WireString, EightBitNamesWidenUnsigned) {
  const std::vector<uint8_t> payload = {'C', ':', '\\', 0xE9, 0, 'x'};
  const WireName name = ReadWireName(Bytes(payload), false);
  EXPECT_EQ(name.text, u"C:\\\u00E9");
  EXPECT_EQ(name.consumed, 5u);
}

TEST(WireString, SixteenBitNameIgnoresAnOddTrailingByte) {
  const std::vector<uint8_t> payload = {'A', 0, 0x41, 0x01, 'B'};
  const WireName name = ReadWireName(Bytes(payload), true);
  EXPECT_EQ(name.text, u"A\u0141");
  EXPECT_EQ(name.consumed, 4u);
  EXPECT_EQ(ReadWireName(Bytes({'Z'}), true).text, u"");
}

TEST(WireString, NameStopsAtTabOnlyWhenAsked) {
  const std::vector<uint8_t> payload = {'a', '\t', 'b'};
  EXPECT_EQ(ReadWireName(Bytes(payload), false, true).text, u"a");
  EXPECT_EQ(ReadWireName(Bytes(payload), false, true).consumed, 2u);
  EXPECT_EQ(ReadWireName(Bytes(payload), false).text, u"a\tb");
}

TEST(WireString, TabFieldsKeepZerosAndStopAfterCountTabs) {
  const std::vector<uint8_t> payload = {'s', 0, 'x', '\t', 'k', '\t', 'v', '\t', 'e', 'x'};
  const auto fields = ReadTabFields(Bytes(payload), false, 3);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], std::u16string(u"s\0x", 3));
  EXPECT_EQ(fields[1], u"k");
  EXPECT_EQ(fields[2], u"v");
  const auto few = ReadTabFields(Bytes({'a'}), false, 4);
  EXPECT_EQ(few, (std::vector<std::u16string>{u"a", u"", u"", u""}));
}

TEST(WireString, ZeroEndsFieldTextButNotTheField) {
  const std::vector<uint8_t> payload = {'r', 0, 0, 0, 'j', 0, '\t', 0, 'k', 0, '\t', 0, 'v', 0};
  const auto fields = ReadTabFieldsZeroEnds(Bytes(payload), true, 3);
  EXPECT_EQ(fields, (std::vector<std::u16string>{u"r", u"k", u"v"}));
}

TEST(WireString, RepliesNarrowToQuestionMarkOrWriteLittleEndianUnits) {
  std::vector<uint8_t> out;
  AppendWireText(out, u"\u00E9\u0141", false);
  AppendWireZero(out, false);
  AppendWireText(out, u"\u0141", true);
  AppendWireZero(out, true);
  AppendU32(out, 0x11223344);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xE9, '?', 0, 0x41, 0x01, 0, 0, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(LoadU32(&out[7]), 0x11223344u);
  AppendU64(out, 0x0102030405060708ULL);
  EXPECT_EQ(out[11], 0x08);
  EXPECT_EQ(out[18], 0x01);
}

}  // namespace
}  // namespace perimo::platform
