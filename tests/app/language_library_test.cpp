#include "app/language_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/dialog_resources.h"
#include "protocol/status_text.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;

// An executable folder with packs in culture folders; each pack says where it lies in
// string 136.
class LanguageLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("perimo-lang-" + std::to_string(getpid()));
    fs::create_directories(folder);
    exe = (folder / "perimo").string();
  }
  void TearDown() override {
    SetLanguageResources(nullptr);
    fs::remove_all(folder);
  }
  void Pack(const std::string& relative, const std::u16string& marker) {
    ResourceSet set;
    set.strings[136] = marker;
    const auto bytes = WriteResourcePe(set);
    fs::create_directories((folder / relative).parent_path());
    std::ofstream(folder / relative, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  std::u16string Loaded(std::u16string_view culture) {
    const LoadedLanguage l = LoadLanguageLibrary(culture, exe);
    if (!l.pack) return u"(built-in)";
    return l.pack->strings.at(136);
  }

  fs::path folder;
  std::string exe;
};

TEST(LanguageLibraryName, FormedFromTheExecutableName) {
  EXPECT_EQ(LanguageLibraryFileName("Perimo.exe"), "Perimo-EXE-mui.dll");
  EXPECT_EQ(LanguageLibraryFileName("perimo"), "perimo-EXE-mui.dll");
  EXPECT_EQ(LanguageLibraryFileName("x.Ocx"), "x-OCX-mui.dll");
  EXPECT_EQ(LanguageLibraryFileName("x.bin"), "x-mui.dll");
  EXPECT_EQ(LanguageLibraryFileName("perimo", true), "perimo-EXE-mui-New.dll");
}

TEST_F(LanguageLibraryTest, CultureFallsBackToLanguageThenToTheExecutableFolder) {
  Pack("Perimo-EXE-mui.dll", u"root");
  Pack("de/Perimo-EXE-mui.dll", u"de");
  Pack("fr-FR/perimo-exe-MUI.dll", u"fr-FR");
  struct Row {
    std::u16string culture;
    std::u16string expected;
  };
  const Row rows[] = {
      {u"de-DE", u"de"},   {u"de", u"de"}, {u"DE-at", u"de"},         {u"fr-FR", u"fr-FR"},
      {u"it-IT", u"root"}, {u"", u"root"}, {u"en-US", u"(built-in)"}, {u"EN-us", u"(built-in)"},
      {u"../de", u"root"},  // no climbing out of the executable's folder
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(platform::ToUtf8(r.culture));
    EXPECT_EQ(Loaded(r.culture), r.expected);
  }
}

TEST_F(LanguageLibraryTest, MissingOrDamagedPackUsesTheBuiltInTexts) {
  EXPECT_EQ(Loaded(u"de-DE"), u"(built-in)");
  fs::create_directories(folder / "de");
  std::ofstream(folder / "de" / "Perimo-EXE-mui.dll") << "MZ not really a library";
  EXPECT_EQ(Loaded(u"de-DE"), u"(built-in)");
}

TEST_F(LanguageLibraryTest, PendingUpdateAppliesOnlyToItsExactCulture) {
  Pack("fr-FR/Perimo-EXE-mui.dll", u"old");
  Pack("fr-FR/Perimo-EXE-mui-New.dll", u"new");
  Pack("fr/Perimo-EXE-mui.dll", u"fr old");
  Pack("fr/Perimo-EXE-mui-New.dll", u"fr new");

  EXPECT_TRUE(ApplyPendingLanguageUpdate(u"fr-FR", exe));
  EXPECT_FALSE(fs::exists(folder / "fr-FR" / "Perimo-EXE-mui-New.dll"));
  EXPECT_EQ(Loaded(u"fr-FR"), u"new");
  EXPECT_TRUE(fs::exists(folder / "fr" / "Perimo-EXE-mui-New.dll"));
  EXPECT_EQ(Loaded(u"fr"), u"fr old");

  EXPECT_TRUE(ApplyPendingLanguageUpdate(u"es-ES", exe));  // nothing pending
  EXPECT_FALSE(ApplyPendingLanguageUpdate(std::nullopt, exe));
  EXPECT_FALSE(ApplyPendingLanguageUpdate(u"fr", "perimo"));  // no folder in the path
}

TEST_F(LanguageLibraryTest, CultureFromSettingsElseFromTheLocale) {
  const std::u16string ini = platform::ToWirePath((folder / "Program Settings.ini").string());
  EXPECT_EQ(SelectCulture(ini, 0x0407), u"de-DE");
  EXPECT_EQ(SelectCulture(ini, 0x7777), u"");
  EXPECT_EQ(SelectCulture(u"", 0x0C0A), u"");  // not listed
  std::ofstream(folder / "Program Settings.ini") << "[Language]\nCultureName=en-US\n";
  EXPECT_EQ(SelectCulture(ini, 0x0407), u"en-US");
}

TEST_F(LanguageLibraryTest, LoadedPackSuppliesStatusAndDialogTextsWithBuiltInFallback) {
  ResourceSet set;
  set.strings[kTextConfirmExit] = u"Wirklich beenden?";
  set.dialogs[kDialogStatus].title = u"Fernagent";
  set.dialogs[kDialogStatus].items = {{107, kClassButton, 0, 0, 0, 0, 0, 0, u"&Einrichten"}};
  SetLanguageResources(std::make_shared<const ResourceSet>(set));

  EXPECT_EQ(StatusText(kTextConfirmExit), u"Wirklich beenden?");
  EXPECT_EQ(StatusText(kTextNotConnected), u"Not connected to remote client");
  EXPECT_EQ(DialogTitle(kDialogStatus), u"Fernagent");
  EXPECT_EQ(DialogTitle(kDialogSetup), u"Setup");
  const auto& items = BuiltInDialog(kDialogStatus)->items;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].id == 107) {
      EXPECT_EQ(DialogItemText(kDialogStatus, i), u"&Einrichten");
    } else if (items[i].id == 110) {
      EXPECT_EQ(DialogItemText(kDialogStatus, i), u"&Start");
    }
  }
  SetLanguageResources(nullptr);
  EXPECT_EQ(StatusText(kTextConfirmExit), u"Are you sure you want to exit?");
}

}  // namespace
}  // namespace perimo
