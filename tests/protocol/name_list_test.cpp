#include "protocol/name_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/status_text.h"

namespace perimo {
namespace {

using Bytes = std::vector<uint8_t>;

NameList ListOf(std::vector<std::u16string> names) {
  NameList list;
  list.names = std::move(names);
  return list;
}

std::u16string Repeat(size_t count, char16_t c = u'n') {
  return std::u16string(count, c);
}

// The fill rule at its edges: entries go in while fewer than 512 bytes are filled.
TEST(NameListPage, EntriesAreAddedWhileFewerThan512BytesAreFilled) {
  struct Case {
    const char* what;
    std::vector<size_t> nameChars;
    bool wide;
    size_t firstPageNames;
    size_t firstPageBytes;
  };
  const Case cases[] = {
      {"two entries reach 511, a third still goes in", {254, 254, 254, 254}, false, 3, 766},
      {"one entry reaches exactly 512", {510, 1}, false, 1, 512},
      {"one entry reaches 513", {511, 1}, false, 1, 513},
      {"16-bit entries count two bytes a character", {127, 127, 127}, true, 2, 513},
      {"short names fill one page", {1, 1, 1}, false, 3, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::u16string> names;
    for (size_t n : c.nameChars) names.push_back(Repeat(n));
    NameList list = ListOf(names);
    const Page page = NextPage(list, PageForm::kName, c.wide);
    EXPECT_EQ(page.sent.size(), c.firstPageNames);
    EXPECT_EQ(page.bytes.size(), c.firstPageBytes);
    EXPECT_EQ(list.cursor, static_cast<int32_t>(c.firstPageNames));
  }
}

TEST(NameListPage, NoPageExceeds1056BytesAndLongNamesWaitForTheNextPage) {
  // 511 bytes filled, then a 16-bit entry of 1012 bytes would end at 1523.
  NameList list = ListOf({Repeat(509), Repeat(505), Repeat(kMaxListedNameChars + 20), u"z"});
  Page page = NextPage(list, PageForm::kName, true);
  ASSERT_EQ(page.bytes.size(), 1u + 1020u);  // the first entry alone: 1021 >= 512
  page = NextPage(list, PageForm::kName, true);
  EXPECT_EQ(page.bytes.size(), 1u + 1012u);
  EXPECT_EQ(page.sent, std::vector<std::u16string>{Repeat(505)});
  // The entry that fits no page is passed over; the list goes on after it.
  page = NextPage(list, PageForm::kName, true);
  EXPECT_EQ(page.sent, std::vector<std::u16string>{u"z"});
  EXPECT_EQ(NextPage(list, PageForm::kName, true).bytes, (Bytes{0x06, 0x00}));
}

TEST(NameListPage, EntryFormsOnTheWire) {
  NameList list = ListOf({u"A", u"", u"B", u"C"});
  list.marks = {1, 0, 0};  // no mark for the last name
  EXPECT_EQ(NextPage(list, PageForm::kMarked, false).bytes,
            (Bytes{0x06, 'A', 0x0A, '1', 0x00, 'B', 0x0A, '0', 0x00, 'C', 0x0A, '0', 0x00}));
  list.cursor = 0;
  EXPECT_EQ(NextPage(list, PageForm::kMarked, true).bytes,
            (Bytes{0x06, 'A', 0, 0x0A, 0,   '1', 0,    0, 0,   'B', 0, 0x0A, 0,
                   '0',  0,   0, 0,    'C', 0,   0x0A, 0, '0', 0,   0, 0}));
  list.cursor = 0;
  EXPECT_EQ(NextPage(list, PageForm::kName, true).bytes,
            (Bytes{0x06, 'A', 0, 0, 0, 'B', 0, 0, 0, 'C', 0, 0, 0}));
}

TEST(NameListPage, TimedEntriesLeaveOutVanishedNamesAndEndWhenAllVanished) {
  setenv("TZ", "UTC", 1);
  tzset();
  NameList list = ListOf({u"gone", u"kept"});
  const platform::FileTime time = 0x0102030405060708ULL;
  const auto lookup = [&](const std::u16string& name) -> std::optional<platform::FileTime> {
    if (name == u"gone") return std::nullopt;
    return time;
  };
  const Page page = NextPage(list, PageForm::kTimed, false, lookup);
  EXPECT_EQ(page.bytes, (Bytes{0x06, 'k', 'e', 'p', 't', 0x00, 8, 7, 6, 5, 4, 3, 2, 1, 0x00}));
  EXPECT_EQ(list.cursor, 2);

  NameList vanished = ListOf({u"gone", u"gone"});
  const Page end = NextPage(vanished, PageForm::kTimed, false, lookup);
  EXPECT_EQ(end.bytes, (Bytes{0x06, 0x00}));
  EXPECT_TRUE(PageStatusLine(end, kTextSendingFileName).empty());
}

TEST(NameListPage, StatusLineJoinsTheSentNames) {
  NameList list = ListOf({u"A", u"B"});
  const Page page = NextPage(list, PageForm::kName, false);
  EXPECT_EQ(PageStatusLine(page, kTextSendingDirectoryName),
            u"Sending directory name: A.\r\r\nSending directory name: B.");
}

}  // namespace
}  // namespace perimo
