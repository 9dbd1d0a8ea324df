#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/temp_folder.h"

namespace perimo::platform {
namespace {

using testing::TempFolder;

TEST(RegistryRoots, TheFourNamesInAnyCaseAndNothingElse) {
  EXPECT_EQ(RegistryRootByName(u"hkey_classes_root"), RegistryRoot::kClassesRoot);
  EXPECT_EQ(RegistryRootByName(u"HKEY_CURRENT_USER"), RegistryRoot::kCurrentUser);
  EXPECT_EQ(RegistryRootByName(u"Hkey_Local_Machine"), RegistryRoot::kLocalMachine);
  EXPECT_EQ(RegistryRootByName(u"HKEY_USERS"), RegistryRoot::kUsers);
  for (const char16_t* other : {u"HKCU", u"HKEY_CURRENT_CONFIG", u"", u"HKEY_USERS "}) {
    EXPECT_FALSE(RegistryRootByName(other)) << std::string(other, other + 4);
  }
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.Open(folder / "registry.db")) << store.error(); }

  TempFolder folder;
  RegistryStore store;
};

TEST_F(RegistryStoreTest, KeysAndNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  const auto root = RegistryRoot::kLocalMachine;
  ASSERT_TRUE(store.SetString(root, u"Software\\Test", u"Value", u"one"));
  ASSERT_TRUE(store.SetString(root, u"SOFTWARE\\test\\", u"VALUE", u"two"));
  EXPECT_EQ(store.GetString(root, u"software\\TEST", u"value"), u"two");
  EXPECT_EQ(store.KeySpelling(root, u"software\\\\test"), u"Software\\Test");
  // The default value is a value of its own.
  EXPECT_FALSE(store.GetString(root, u"Software\\Test", u""));
  ASSERT_TRUE(store.SetString(root, u"Software\\Test", u"", u"default"));
  EXPECT_EQ(store.GetString(root, u"Software\\Test", u""), u"default");
  EXPECT_EQ(store.GetString(root, u"Software\\Test", u"Value"), u"two");
  // Other roots and missing keys hold nothing.
  EXPECT_FALSE(store.GetString(RegistryRoot::kCurrentUser, u"Software\\Test", u"Value"));
  EXPECT_FALSE(store.GetString(root, u"Software", u"Value"));
  EXPECT_FALSE(store.KeySpelling(RegistryRoot::kUsers, u"Software\\Test"));
}

TEST_F(RegistryStoreTest, AnySixteenBitTextComesBackAsItWent) {
  const std::u16string odd{u'a', 0xD800, u'\0', 0xFFFF, u'\u00E9', u'\'', u';'};
  ASSERT_TRUE(store.SetString(RegistryRoot::kUsers, odd, odd, odd));
  EXPECT_EQ(store.GetString(RegistryRoot::kUsers, odd, odd), odd);
  ASSERT_TRUE(store.SetString(RegistryRoot::kUsers, u"Empty", u"v", u""));
  EXPECT_EQ(store.GetString(RegistryRoot::kUsers, u"Empty", u"v"), u"");
}

TEST_F(RegistryStoreTest, TwoStoresOnOneFileSeeEachOthersWrites) {
  RegistryStore other;
  ASSERT_TRUE(other.Open(folder / "registry.db")) << other.error();
  ASSERT_TRUE(store.SetString(RegistryRoot::kCurrentUser, u"Shared", u"n", u"first"));
  EXPECT_EQ(other.GetString(RegistryRoot::kCurrentUser, u"Shared", u"n"), u"first");
  ASSERT_TRUE(other.SetString(RegistryRoot::kCurrentUser, u"Shared", u"n", u"second"));
  EXPECT_EQ(store.GetString(RegistryRoot::kCurrentUser, u"Shared", u"n"), u"second");
  store.Close();
  RegistryStore reopened;
  ASSERT_TRUE(reopened.Open(folder / "registry.db"));
  EXPECT_EQ(reopened.GetString(RegistryRoot::kCurrentUser, u"Shared", u"n"), u"second");
}

TEST(RegistryStoreFailures, UnopenedOrUnwritableStoresFailCleanly) {
  RegistryStore closed;
  EXPECT_FALSE(closed.SetString(RegistryRoot::kUsers, u"K", u"v", u"d"));
  EXPECT_FALSE(closed.GetString(RegistryRoot::kUsers, u"K", u"v"));

  TempFolder folder;
  RegistryStore missing;
  EXPECT_FALSE(missing.Open(folder / "no/such/folder/registry.db"));
  EXPECT_FALSE(missing.error().empty());
  EXPECT_FALSE(missing.IsOpen());

  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  RegistryStore store;
  ASSERT_TRUE(store.Open(folder / "registry.db"));
  ASSERT_TRUE(store.SetString(RegistryRoot::kUsers, u"K", u"v", u"old"));
  store.Close();
  chmod((folder / "registry.db").c_str(), 0444);
  chmod(folder.path().c_str(), 0555);
  RegistryStore readOnly;
  if (readOnly.Open(folder / "registry.db")) {
    EXPECT_FALSE(readOnly.SetString(RegistryRoot::kUsers, u"K", u"v", u"new"));
  }
  chmod(folder.path().c_str(), 0755);
  chmod((folder / "registry.db").c_str(), 0644);
  RegistryStore again;
  ASSERT_TRUE(again.Open(folder / "registry.db"));
  EXPECT_EQ(again.GetString(RegistryRoot::kUsers, u"K", u"v"), u"old");
}

}  // namespace
}  // namespace perimo::platform
