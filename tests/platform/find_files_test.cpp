#include "platform/find_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/json_reader.h"
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

using testing::Json;
using testing::TempFolder;

std::vector<std::u16string> Names(const std::vector<FindEntry>& entries, bool withDots = false) {
  std::vector<std::u16string> names;
  for (const auto& e : entries) {
    if (withDots || (e.name != u"." && e.name != u"..")) names.push_back(e.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class FindFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Drives().Clear();
    Drives().Set('W', folder_.path());
  }
  void TearDown() override { Drives().Clear(); }
  TempFolder folder_;
};

TEST_F(FindFilesTest, MatchesAsRecorded) {
  const Json table = testing::LoadConformanceTable("wildcard.json");
  std::filesystem::create_directory(folder_ / "f");
  for (const Json& entry : table["folder"].items) {
    if (entry["directory"].boolean) {
      std::filesystem::create_directory(folder_ / ("f/" + ToUtf8(entry["name"].text)));
    } else {
      folder_.Write("f/" + ToUtf8(entry["name"].text), "");
    }
  }
  ASSERT_FALSE(table["cases"].items.empty());
  for (const Json& c : table["cases"].items) {
    SCOPED_TRACE(c["id"].Ascii() + " pattern \"" + ToUtf8(c["pattern"].text) + "\"");
    std::vector<std::u16string> expected;
    for (const Json& name : c["expect"].items) expected.push_back(name.text);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(FindFiles(u"W:\\F\\" + c["pattern"].text)), expected);
  }
}

TEST(WildcardMatch, DotsAndQuestionMarksNearTheEnd) {
  EXPECT_TRUE(WildcardMatch(u"*.*", u"noext"));  // "*.*" is every name
  EXPECT_TRUE(WildcardMatch(u"*.", u"noext"));   // a final dot: names without a dot
  EXPECT_FALSE(WildcardMatch(u"*.", u"x.txt"));
  EXPECT_TRUE(WildcardMatch(u"data?.bin", u"data.bin"));  // '?' before a dot may vanish
  EXPECT_TRUE(WildcardMatch(u"data?.bin", u"data1.bin"));
  EXPECT_FALSE(WildcardMatch(u"data?.bin", u"data12.bin"));
  EXPECT_TRUE(WildcardMatch(u"log??", u"log1"));  // trailing '?' may vanish at the end
  EXPECT_FALSE(WildcardMatch(u"log??", u"log123"));
  EXPECT_FALSE(WildcardMatch(u"a?c", u"a.c"));  // '?' never takes a dot
  EXPECT_TRUE(WildcardMatch(u"*.D*", u"two.dots.app"));
  EXPECT_TRUE(WildcardMatch(u"\u00E9t\u00E9.*", u"\u00C9T\u00C9.ini"));
  EXPECT_FALSE(WildcardMatch(u"", u"x"));
}

TEST_F(FindFilesTest, ReportsDotEntriesBelowTheRootAndEntryDetails) {
  std::filesystem::create_directory(folder_ / "Sub");
  folder_.Write("Sub/a.txt", "abc");
  const auto inSub = FindFiles(u"W:\\sub\\*");
  EXPECT_EQ(Names(inSub, true), (std::vector<std::u16string>{u".", u"..", u"a.txt"}));
  for (const auto& e : inSub) {
    if (e.name == u"a.txt") {
      EXPECT_EQ(e.size, 3u);
      EXPECT_EQ(e.attributes, kAttrArchive);
      EXPECT_NE(e.times.write, 0u);
    } else {
      EXPECT_EQ(e.attributes, kAttrDirectory);
    }
  }
  EXPECT_EQ(Names(FindFiles(u"W:\\*.*"), true), (std::vector<std::u16string>{u"Sub"}));
  EXPECT_TRUE(FindFiles(u"W:\\missing\\*.*").empty());
  EXPECT_TRUE(FindFiles(u"Q:\\*.*").empty());
}

}  // namespace
}  // namespace perimo::platform
