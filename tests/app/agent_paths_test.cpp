#include "app/agent_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "platform/text.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;

class AgentPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("perimo-paths-" + std::to_string(getpid()));
    fs::create_directories(root / "F");
    fs::create_directories(root / "data");
    fs::create_directories(root / "docs");
    sources = {(root / "F").string(), (root / "data").string(), (root / "docs").string()};
  }
  void TearDown() override {
    fs::remove_all(root);
    platform::Drives().Clear();
  }
  void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
  std::u16string Wire(const fs::path& p) { return platform::ToWirePath(p.string()); }

  fs::path root;
  SuiteFolderSources sources;
};

TEST_F(AgentPathsTest, WithoutUseUserFolderTheFilesLiveInTheUserFolder) {
  const AgentPaths p = ComputeAgentPaths((root / "F" / "X").string(), sources);
  EXPECT_EQ(p.exeDir, Wire(root / "F"));
  EXPECT_EQ(p.exeBaseName, u"X");
  EXPECT_EQ(p.agentIniPath, Wire(root / "data") + u"\\X.INI");
  EXPECT_EQ(p.usersFilePath, Wire(root / "data") + u"\\X.BIN");
  EXPECT_EQ(p.outFilePath, Wire(root / "data") + u"\\X.Out");
  // No "Program Settings.ini" beside the executable: the bare known folders.
  EXPECT_EQ(p.settingsDir, Wire(root / "data") + u"\\");
  EXPECT_EQ(p.projectsDir, Wire(root / "docs") + u"\\");
}

TEST_F(AgentPathsTest, UseUserFolderZeroInEitherFileKeepsThemBesideTheExecutable) {
  Write(root / "F" / "X.INI", "[OEM]\nUseUserFolder=0\n");
  AgentPaths p = ComputeAgentPaths((root / "F" / "X").string(), sources);
  EXPECT_EQ(p.agentIniPath, Wire(root / "F") + u"\\X.INI");
  EXPECT_EQ(p.outFilePath, Wire(root / "F") + u"\\X.OUT");

  fs::remove(root / "F" / "X.INI");
  Write(root / "data" / "X.INI", "[oem]\nuseuserfolder = 0\n");
  p = ComputeAgentPaths((root / "F" / "X").string(), sources);
  EXPECT_EQ(p.usersFilePath, Wire(root / "F") + u"\\X.BIN");
}

TEST_F(AgentPathsTest, SuiteSettingsBesideTheExecutableNameTheSubFolder) {
  Write(root / "F" / "Program Settings.ini", "[OEM]\nProductName=Vextra\n[Install]\nVersion=7.0\n");
  EXPECT_EQ(GetSuiteFolder(sources, kSuiteSettingsFolder),
            Wire(root / "data") + u"\\Vextra v7.0\\");
  EXPECT_EQ(GetSuiteFolder(sources, kSuiteProjectsFolder),
            Wire(root / "docs") + u"\\Vextra v7.0 Projects\\");
  Write(root / "F" / "Program Settings.ini", "[OEM]\nCompanyID=40\nProductName=Vextra\n");
  EXPECT_EQ(GetSuiteFolder(sources, kSuiteSettingsFolder), Wire(root / "data") + u"\\Vextra\\");
  EXPECT_EQ(GetSuiteFolder(sources, kSuiteProjectsFolder),
            Wire(root / "docs") + u"\\Vextra Projects\\");
}

TEST_F(AgentPathsTest, MissingKnownFolderOrUnknownKindGivesTheExecutableFolder) {
  sources.localAppData.clear();
  EXPECT_EQ(GetSuiteFolder(sources, kSuiteSettingsFolder), Wire(root / "F") + u"\\");
  EXPECT_EQ(GetSuiteFolder(sources, 7), Wire(root / "F") + u"\\");
}

TEST_F(AgentPathsTest, DriveMapComesFromTheAgentsSettingsFile) {
  Write(root / "F" / "Perimo.INI", "[OEM]\nUseUserFolder=0\n[Drives]\nC=" + root.string() + "\n");
  const AgentPaths p = ComputeAgentPaths((root / "F" / "perimo").string(), sources);
  EXPECT_EQ(p.exeDir, u"C:\\F");
  // Found whatever the case of the file on disk.
  EXPECT_EQ(p.agentIniPath, u"C:\\F\\perimo.INI");
}

TEST_F(AgentPathsTest, DriveMapComesFromTheSettingsFileInTheUserFolder) {
  fs::create_directories(root / "drive");
  Write(root / "data" / "X.INI", "[Drives]\nC=" + (root / "drive").string() + "\n");
  const AgentPaths p = ComputeAgentPaths((root / "F" / "X").string(), sources);
  ASSERT_NE(platform::Drives().Get('C'), nullptr);
  EXPECT_EQ(*platform::Drives().Get('C'), (root / "drive").string());
  // Both agent folders lie outside the only drive, yet requests still reach them.
  std::u16string unixRoot = u"\\\\?\\unix" + platform::FromUtf8(root.string());
  std::replace(unixRoot.begin(), unixRoot.end(), u'/', u'\\');
  EXPECT_EQ(p.exeDir, unixRoot + u"\\F");
  EXPECT_EQ(p.agentIniPath, unixRoot + u"\\data\\X.INI");
  EXPECT_EQ(platform::ToNativePath(p.agentIniPath), (root / "data" / "X.INI").string());
  EXPECT_EQ(platform::ToNativePath(p.exeDir + u"\\Bin"), (root / "F" / "Bin").string());
  EXPECT_EQ(platform::ToNativePath(unixRoot + u"\\docs"), std::nullopt);
  platform::SetAgentFolders({});
}

TEST(AgentPaths, BaseNameDropsOnlyAnExtension) {
  EXPECT_EQ(ExeBaseName("Perimo.exe"), "Perimo");
  EXPECT_EQ(ExeBaseName("perimo"), "perimo");
  EXPECT_EQ(ExeBaseName("a.b.EXE"), "a.b");
  EXPECT_EQ(ExeBaseName(".abc"), ".abc");
  EXPECT_EQ(ExeBaseName(""), "Perimo");
}

}  // namespace
}  // namespace perimo
