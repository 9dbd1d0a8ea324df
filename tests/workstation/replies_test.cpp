// Reading the agent's replies, short and malformed ones included.
#include "workstation/replies.h"

#include <gtest/gtest.h>

namespace perimo::workstation {
namespace {

TEST(RepliesTest, PagesOfEachForm) {
  std::vector<ListEntry> out;
  bool last = false;
  ASSERT_TRUE(ParsePage({0x06, 'C', ':', 0, 'D', ':', 0}, PageForm::kName, false, out, last));
  EXPECT_FALSE(last);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].name, "D:");

  out.clear();
  ASSERT_TRUE(
      ParsePage({0x06, 'A', 0, '\n', 0, '1', 0, 0, 0}, PageForm::kNameMark, true, out, last));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].name, "A");
  EXPECT_TRUE(out[0].hasSubdirectories);

  out.clear();
  const Bytes timed{0x06, 'f', 0, 1, 2, 3, 4, 5, 6, 7, 8, 0};
  ASSERT_TRUE(ParsePage(timed, PageForm::kNameTime, false, out, last));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].fileTime, 0x0807060504030201ull);

  ASSERT_TRUE(ParsePage({0x06, 0x00}, PageForm::kNameTime, false, out, last));
  EXPECT_TRUE(last);
}

TEST(RepliesTest, BrokenRepliesGivePartialResultsWithoutReadingPastThem) {
  std::vector<ListEntry> out;
  bool last = false;
  EXPECT_FALSE(ParsePage({0x06, 'f', 0, 1, 2, 3}, PageForm::kNameTime, false, out, last));
  // A wide name cut in the middle of a character.
  size_t at = 1;
  EXPECT_EQ(ReadReplyText({0x06, 'a', 0, 'b'}, at, true), "a");
  EXPECT_EQ(at, 4u);

  SystemInfo info;
  ParseProductReply({0x06, 'P', 0, '1'}, info);
  EXPECT_EQ(info.product, "P");
  EXPECT_EQ(info.agentVersion, "1");
  EXPECT_EQ(info.packSize, 16384u);
  ParseProductReply({0x06, 0, 0, 0, 0, 0, '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', 0},
                    info);
  EXPECT_EQ(info.packSize, 16384u);
  ParseOsReply({0x06}, info);
  EXPECT_EQ(info.osName, "");

  Digest digest{};
  EXPECT_EQ(ParseDigestReply({0x15, 0x01}, digest), DigestReply::kMissing);
  EXPECT_EQ(ParseDigestReply({0x06, 1, 2}, digest), DigestReply::kOther);
  Bytes full(21, 0xAB);
  full[0] = 0x06;
  EXPECT_EQ(ParseDigestReply(full, digest), DigestReply::kPresent);
  EXPECT_EQ(digest[19], 0xAB);
}

}  // namespace
}  // namespace perimo::workstation
