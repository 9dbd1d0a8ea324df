#include "formats/pe_resources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "format_test_support.h"

namespace perimo {
namespace {

using test::Bytes;

// Packs made by a real resource compiler from the .rc files beside them.
Bytes Fixture(const std::string& name) {
  const char* source = std::getenv("PERIMO_SOURCE_DIR");
  return test::ReadFileBytes(std::string(source ? source : ".") + "/tests/formats/langpacks/" +
                             name);
}

ResourceSet SampleSet() {
  ResourceSet set;
  set.language = 0x0407;
  set.strings = {{1, u"eins"}, {15, u"f\u00fcnfzehn"}, {16, u"sechzehn"}, {65535, u"last"}};
  DialogResource d;
  d.title = u"Fernagent";
  d.fontName = u"MS Sans Serif";
  d.pointSize = 8;
  d.cx = 161;
  d.cy = 142;
  d.items = {{110, kClassButton, 1, 0, 4, 4, 50, 14, u"&Starten"},
             {0xFFFFFFFF, kClassStatic, 0, 0, 4, 24, 80, 8, u"Log:"},
             {105, kClassEdit, 0x800, 0, 4, 34, 150, 60, u""}};
  set.dialogs[102] = d;
  set.menus[147] = {{0, 0, true, false, u"Men\u00fc"}, {57664, 1, false, false, u"&Info"},
                    {0, 1, false, true, u""},          {0, 1, true, false, u"Mehr"},
                    {300, 2, false, false, u"Tief"},   {57665, 1, false, false, u"&Beenden"},
                    {0, 0, true, false, u"Zwei"},      {301, 1, false, false, u"X"}};
  return set;
}

TEST(PeResources, ResourceCompilerPackWithExtendedDialogAndStandardMenu) {
  const auto set = ReadResourcePe(Fixture("de.dll"));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->language, 0x0407);
  EXPECT_EQ(set->strings.at(136), u"Wollen Sie wirklich beenden?");
  EXPECT_EQ(set->strings.at(127),
            u"Ger\u00e4teverbindung \u00fcber serielle Schnittstelle (COM%1)");
  EXPECT_EQ(set->strings.count(137), 0u);  // an empty slot of the block is absent

  const DialogResource& d = set->dialogs.at(102);
  EXPECT_EQ(d.title, u"Fernagent");
  EXPECT_EQ(d.fontName, u"MS Sans Serif");
  EXPECT_EQ(d.pointSize, 8);
  EXPECT_EQ(d.cx, 161);
  ASSERT_EQ(d.items.size(), 5u);
  EXPECT_EQ(set->FindDialogItem(102, 107)->text, u"&Einrichten");
  EXPECT_EQ(d.items[3].text, u"Verbindungsstatus:");
  EXPECT_EQ(d.items[4].classOrdinal, kClassEdit);

  const auto& menu = set->menus.at(147);
  ASSERT_EQ(menu.size(), 4u);
  EXPECT_TRUE(menu[0].popup);
  EXPECT_EQ(menu[0].text, u"Men\u00fc");
  EXPECT_TRUE(menu[2].separator);
  EXPECT_EQ(menu[3].depth, 1);
  EXPECT_EQ(set->FindMenuItem(147, 57665)->text, u"&Beenden");
}

TEST(PeResources, ResourceCompilerPackWithClassicDialogAndExtendedMenu) {
  const auto set = ReadResourcePe(Fixture("fr-classic.dll"));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->strings.at(4095), u"dernier du bloc");
  const DialogResource& d = set->dialogs.at(103);
  EXPECT_EQ(d.title, u"Configuration");
  ASSERT_EQ(d.items.size(), 3u);
  EXPECT_EQ(set->FindDialogItem(103, 109)->text, u"Port &s\u00e9rie");
  EXPECT_EQ(set->FindDialogItem(103, 1)->text, u"OK");

  const auto& menu = set->menus.at(208);
  ASSERT_EQ(menu.size(), 5u);
  EXPECT_EQ(menu[1].text, u"&Plus");
  EXPECT_EQ(menu[2].depth, 2);
  EXPECT_EQ(menu[2].id, 300u);
  EXPECT_TRUE(menu[3].separator);
  EXPECT_EQ(menu[4].depth, 1);
  EXPECT_EQ(menu[4].id, 57665u);
}

TEST(PeResources, WrittenPackReadsBackWithEveryResource) {
  const ResourceSet set = SampleSet();
  const auto back = ReadResourcePe(WriteResourcePe(set));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->language, 0x0407);
  EXPECT_EQ(back->strings, set.strings);
  const DialogResource& d = back->dialogs.at(102);
  EXPECT_EQ(d.title, u"Fernagent");
  EXPECT_EQ(d.fontName, u"MS Sans Serif");
  ASSERT_EQ(d.items.size(), 3u);
  EXPECT_EQ(d.items[1].id, 0xFFFFFFFFu);
  EXPECT_EQ(d.items[1].text, u"Log:");
  EXPECT_EQ(d.items[2].style, 0x800u);
  const auto& menu = back->menus.at(147);
  ASSERT_EQ(menu.size(), set.menus.at(147).size());
  for (size_t i = 0; i < menu.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(menu[i].text, set.menus.at(147)[i].text);
    EXPECT_EQ(menu[i].depth, set.menus.at(147)[i].depth);
    EXPECT_EQ(menu[i].popup, set.menus.at(147)[i].popup);
    EXPECT_EQ(menu[i].separator, set.menus.at(147)[i].separator);
    EXPECT_EQ(menu[i].id, set.menus.at(147)[i].id);
  }
}

TEST(PeResources, ResourceCompilerPacksSurviveOurWriter) {
  for (const char* name : {"de.dll", "fr-classic.dll"}) {
    SCOPED_TRACE(name);
    const auto set = ReadResourcePe(Fixture(name));
    ASSERT_TRUE(set);
    const auto again = ReadResourcePe(WriteResourcePe(*set));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->strings, set->strings);
    EXPECT_EQ(again->dialogs.size(), set->dialogs.size());
    EXPECT_EQ(again->menus.size(), set->menus.size());
  }
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(PeResources, DamagedFilesAreRefusedOrCutNeverOverread) {
  const Bytes good = WriteResourcePe(SampleSet());
  // Every prefix parses without reading past its end (the sanitizer build checks the reads);
  // a cut inside the headers is no pack at all.
  for (size_t n = 0; n < good.size(); n += 7) {
    const Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
    const auto set = ReadResourcePe(cut);
    if (n < 0x200) {
      EXPECT_FALSE(set) << n;
    }
  }
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    bool refused;
  };
  const size_t pe = 0x40, optional = pe + 24, sectionTable = optional + 224;
  const Case cases[] = {
      {"PE header beyond the file", 0x3C, 0xFFFFFFF0, true},
      {"unknown optional header kind", optional, 0x0999, true},
      {"resource directory outside every section", optional + 96 + 16, 0x9000, true},
      {"fewer than three data directories", optional + 92, 2, true},
      {"section data beyond the file", sectionTable + 20, 0x7FFFFFF0, true},
      {"huge entry count in the root directory", 0x200 + 12, 0xFFFFFFFF, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bad = good;
    Put32(bad, c.at, c.value);
    EXPECT_EQ(!ReadResourcePe(bad).has_value(), c.refused);
  }
}

TEST(PeResources, CutTemplatesKeepWhatIsWhole) {
  const Bytes dialog = EncodeDialogTemplate(SampleSet().dialogs.at(102));
  for (size_t n = 0; n < dialog.size(); ++n) {
    const auto d = DecodeDialogTemplate({dialog.data(), n});
    if (d) {
      EXPECT_LE(d->items.size(), 3u);
    }
  }
  const Bytes menu = EncodeMenuTemplate(SampleSet().menus.at(147));
  for (size_t n = 0; n < menu.size(); ++n) {
    EXPECT_LE(DecodeMenuTemplate({menu.data(), n}).size(), 8u);
  }
}

}  // namespace
}  // namespace perimo
