#include "security/rights.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/temp_folder.h"

namespace perimo {
namespace {

class RightsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder / "Suite/Agent");
    exeDir = platform::ToWirePath(folder / "Suite/Agent");
    suite = platform::ToWirePath(folder / "Suite");
    login.securityEnabled = true;
    login.loggedInRights = {10, 20, 30, 40, 50};
  }

  void SetProjectDirectory(const std::string& directory) {
    folder.Write("Suite/Agent/CEApp.INI", "[Application]\nDirectory=" + directory + "\n");
  }

  testing::TempFolder folder;
  LoginState login;
  std::u16string exeDir;
  std::u16string suite;
};

TEST_F(RightsTest, SecurityOffGrantsEverything) {
  login.securityEnabled = false;
  login.loggedInRights = {0, 0, 0, 0, 0};
  EXPECT_EQ(RightForPath(login, exeDir, u"C:\\anything"), 1);
  EXPECT_EQ(MayGetFromTarget(login), 1);
  EXPECT_EQ(MayRunStop(login), 1);
}

TEST_F(RightsTest, ReadAndRunRights) {
  EXPECT_EQ(MayGetFromTarget(login), 20);
  EXPECT_EQ(MayRunStop(login), 50);
}

TEST_F(RightsTest, ProjectSystemAndOtherFolders) {
  SetProjectDirectory("C:\\Projects\\Main");
  EXPECT_EQ(RightForPath(login, exeDir, u"c:\\PROJECTS\\main\\Screen.scr"), 10);
  // The directory itself is not inside the project.
  EXPECT_EQ(RightForPath(login, exeDir, u"C:\\Projects\\Main"), 40);
  EXPECT_EQ(RightForPath(login, exeDir, u"C:\\Projects\\MainOld\\x"),
            10);  // a prefix, no separator

  EXPECT_EQ(RightForPath(login, exeDir, suite + u"\\BIN\\driver.dll"), 30);
  EXPECT_EQ(RightForPath(login, exeDir, suite + u"\\drv\\x.sys"), 30);
  EXPECT_EQ(RightForPath(login, exeDir, suite + u"\\Binaries\\x"), 30);
  EXPECT_EQ(RightForPath(login, exeDir, suite + u"\\Agent\\x"), 40);
  EXPECT_EQ(RightForPath(login, exeDir, u"D:\\Other\\file.txt"), 40);
}

TEST_F(RightsTest, EmptyProjectDirectoryCoversEveryPath) {
  EXPECT_EQ(RightForPath(login, exeDir, suite + u"\\Bin\\x.dll"), 10);
  EXPECT_EQ(RightForPath(login, exeDir, u"x"), 10);
  EXPECT_EQ(RightForPath(login, exeDir, u""), 40);
}

}  // namespace
}  // namespace perimo
