#include "app/agent_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "security/link_cipher.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;

class AgentSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("perimo-settings-" + std::to_string(getpid()));
    fs::create_directories(folder);
    ini = platform::ToWirePath((folder / "A.INI").string());
  }
  void TearDown() override { fs::remove_all(folder); }
  void Write(const std::string& text) { std::ofstream(folder / "A.INI") << text; }

  fs::path folder;
  std::u16string ini;
};

TEST_F(AgentSettingsTest, MissingFileGivesEveryDefault) {
  const AgentSettings s = ReadAgentSettings(ini);
  EXPECT_EQ(s.device, 1);
  EXPECT_EQ(s.serialBaud, 19200);
  EXPECT_EQ(s.delay, 250);
  EXPECT_EQ(s.packSize, 16384);
  EXPECT_EQ(s.showWindow, 5);
  EXPECT_EQ(s.port, u"4322");
  EXPECT_EQ(s.positionLeft, -32000);
  EXPECT_EQ(s.internalKey, kDefaultInternalKey);
  EXPECT_EQ(s.useUserFolder, 1);
  EXPECT_EQ(static_cast<size_t>(UsablePackSize(s.packSize)) * 55, 901120u);
  EXPECT_EQ(ApplicationTitle(s, u"perimo"), u"Remote Agent (v7.12)");
}

TEST_F(AgentSettingsTest, KeysAreReadFromTheirSections) {
  Write(
      "[Setup]\nDevice=0\nSerialPort=2\nSerialBaud=9600\nLockDownload=1\nAppName=Plant\n"
      "[Communication]\nDelay=10\nPackSize=4096\n[Remote]\nPort=abc\n"
      "[OEM]\nProductName=Vextra Agent\nProductVersion=8.0\n");
  const AgentSettings s = ReadAgentSettings(ini);
  EXPECT_EQ(s.device, 0);
  EXPECT_EQ(s.serialPort, 2);
  EXPECT_EQ(s.serialBaud, 9600);
  EXPECT_EQ(s.lockDownload, 1);
  EXPECT_EQ(s.appName, u"Plant");
  EXPECT_EQ(s.delay, 10);
  EXPECT_EQ(s.packSize, 4096);
  EXPECT_EQ(s.port, u"abc");
  EXPECT_EQ(ApplicationTitle(s, u"perimo"), u"Vextra Agent (v8.0)");
}

TEST_F(AgentSettingsTest, TheSetupDialogsBaudRateKeyWins) {
  Write("[Setup]\nSerialBaud=9600\nSerialBaudRate=57600\n");
  EXPECT_EQ(ReadAgentSettings(ini).serialBaud, 57600);
}

TEST_F(AgentSettingsTest, EmptyProductNameKeepsTheDefaultTitle) {
  Write("[OEM]\nProductName=\n");
  EXPECT_EQ(ApplicationTitle(ReadAgentSettings(ini), u"perimo"), u"perimo");
}

TEST(AgentSettings, PackSizeIsKeptUsable) {
  EXPECT_EQ(UsablePackSize(0), 255);
  EXPECT_EQ(UsablePackSize(-5), 255);
  EXPECT_EQ(UsablePackSize(16384), 16384);
  EXPECT_EQ(UsablePackSize(2000000000), 65511);
  EXPECT_EQ(UsablePackSize(1 << 20), 65511);
  EXPECT_EQ(LargestSendablePackSize(), 65511);
}

TEST_F(AgentSettingsTest, ApplicationFileNamesTheProject) {
  const std::u16string exeDir = platform::ToWirePath(folder.string());
  ASSERT_TRUE(WriteApplicationFile(exeDir, u"Plant"));
  std::ifstream in(folder / "CEApp.INI");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("[Application]"), std::string::npos);
  EXPECT_NE(text.str().find("\\Plant\\Plant.app"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder / "none" / "CEApp.INI"));
  EXPECT_TRUE(WriteApplicationFile(exeDir, u""));  // nothing to write
}

}  // namespace
}  // namespace perimo
