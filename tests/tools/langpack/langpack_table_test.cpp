#include "langpack_table.h"

#include <gtest/gtest.h>

#include "protocol/dialog_resources.h"

namespace perimo::langpack {
namespace {

TEST(LangpackTable, TemplateMadeIntoAPackReadsBackAsTheSameTable) {
  const std::string table = FormatTable(BuiltInResources());
  ResourceSet set = BuiltInResources();
  std::string error;
  ASSERT_TRUE(ApplyTable(table, set, error)) << error;
  const auto pack = ReadResourcePe(WriteResourcePe(set));
  ASSERT_TRUE(pack);
  EXPECT_EQ(FormatTable(*pack), table);
}

TEST(LangpackTable, TranslationsReplaceTextsByIdAndPositionWithEscapes) {
  ResourceSet set = BuiltInResources();
  std::string error;
  ASSERT_TRUE(
      ApplyTable("# German\nlanguage\t0x0407\n"
                 "string\t136\tWirklich beenden?\\nJa oder nein\n"
                 "dialog\t102\ttitle\tFernagent\n"
                 "dialog\t102\t107\t&Einrichten\n"
                 "dialog\t102\t#3\tVerbindungsstatus:\n"
                 "menu\t147\t57665\t&Beenden\r\n"
                 "menu\t147\t#0\tMen\xc3\xbc\n",
                 set, error))
      << error;
  const auto pack = ReadResourcePe(WriteResourcePe(set));
  ASSERT_TRUE(pack);
  EXPECT_EQ(pack->language, 0x0407);
  EXPECT_EQ(pack->strings.size(), 1u);  // only translated strings: the rest stay built in
  EXPECT_EQ(pack->strings.at(136), u"Wirklich beenden?\nJa oder nein");
  EXPECT_EQ(pack->dialogs.at(102).title, u"Fernagent");
  EXPECT_EQ(pack->FindDialogItem(102, 107)->text, u"&Einrichten");
  EXPECT_EQ(pack->dialogs.at(102).items[3].text, u"Verbindungsstatus:");
  EXPECT_EQ(pack->FindMenuItem(147, 57665)->text, u"&Beenden");
  EXPECT_EQ(pack->menus.at(147)[0].text, u"Men\u00fc");
}

TEST(LangpackTable, MalformedLinesAreNamed) {
  const struct {
    const char* table;
    const char* error;
  } rows[] = {
      {"string\tx\ttext\n", "line 1: string id is not a 16-bit number"},
      {"\nstring\t70000\ttext\n", "line 2: string id is not a 16-bit number"},
      {"dialog\t999\ttitle\tx\n", "line 1: no dialog 999"},
      {"dialog\t102\t4711\tx\n", "line 1: dialog 102 has no such control"},
      {"menu\t147\t#99\tx\n", "line 1: menu 147 has no such item"},
      {"strings\t1\tx\n", "line 1: expected language, string, dialog or menu with its fields"},
  };
  for (const auto& r : rows) {
    ResourceSet set = BuiltInResources();
    std::string error;
    EXPECT_FALSE(ApplyTable(r.table, set, error)) << r.table;
    EXPECT_EQ(error, r.error);
  }
}

}  // namespace
}  // namespace perimo::langpack
