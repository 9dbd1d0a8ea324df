#include "protocol/settings_commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/agent_state.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct FakeLink : Connection {
  std::vector<Bytes> replies;
};

int Record(Connection* connection, const uint8_t* bytes, int32_t count) {
  static_cast<FakeLink*>(connection)->replies.emplace_back(bytes, bytes + count);
  return 1;
}

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes Wide(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A temporary folder mapped as drive C; the agent lives in C:\A\Bin, its suite settings in
// C:\Users\Settings\.
class SettingsCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/perimo-settings-XXXXXX";
    root = mkdtemp(pattern);
    platform::Drives().Set('C', root.string());
    fs::create_directories(root / "A" / "Bin");
    fs::create_directories(root / "Users" / "Settings");
    agent.paths.exeDir = u"C:\\A\\Bin";
    agent.paths.settingsDir = u"C:\\Users\\Settings\\";
    agent.statusSink = [this](std::u16string_view text) {
      lines.push_back(platform::ToUtf8(text));
    };
    agent.pause = [this](uint32_t ms) { pauses.push_back(ms); };
  }

  void TearDown() override {
    platform::Drives() = platform::DriveMap();
    fs::remove_all(root);
  }

  Bytes Run(void (*handler)(Request&), const Bytes& payload) {
    Bytes frame{0x00};
    frame.insert(frame.end(), payload.begin(), payload.end());
    link.replies.clear();
    Request request{agent, frame.data() + 1, static_cast<int32_t>(frame.size()), &link, Record};
    handler(request);
    EXPECT_EQ(link.replies.size(), 1u) << "each request gets exactly one reply";
    return link.replies.empty() ? Bytes{} : link.replies[0];
  }

  fs::path root;
  AgentState agent;
  FakeLink link;
  std::vector<std::string> lines;
  std::vector<uint32_t> pauses;
};

TEST_F(SettingsCommandsTest, ProgramSettingsRoundTripWithFallbackBesideTheAgent) {
  EXPECT_EQ(Run(WriteProgramSetting, Text("Run\tProject\tC:\\P\\a.app")), Bytes{0x06});
  EXPECT_NE(
      ReadFile(root / "Users" / "Settings" / "Program Settings.INI").find("Project=C:\\P\\a.app"),
      std::string::npos);
  EXPECT_EQ(Run(ReadProgramSetting, Text("run\tPROJECT\tdefault")), Text("\x06"
                                                                         "C:\\P\\a.app" +
                                                                         std::string(1, '\0')));

  std::ofstream(root / "A" / "Bin" / "Program Settings.INI")
      << "[Only]\nHere=beside\n[Run]\nProject=ignored\n";
  EXPECT_EQ(Run(ReadProgramSetting, Text("Only\tHere\tdefault")), Text(std::string("\x06"
                                                                                   "beside") +
                                                                       '\0'));
  EXPECT_EQ(Run(ReadProgramSetting, Text("Only\tNone\tdefault")), Text(std::string("\x06"
                                                                                   "default") +
                                                                       '\0'));

  // An empty value in the settings folder's file is a value: no fallback.
  Run(WriteProgramSetting, Text("Only\tHere\t"));
  EXPECT_EQ(Run(ReadProgramSetting, Text("Only\tHere\tdefault")), (Bytes{0x06, 0x00}));
}

TEST_F(SettingsCommandsTest, WideRepliesAndUnsignedEightBitCharacters) {
  Run(WriteProgramSetting, Text("S\tK\tcaf\xE9"));
  EXPECT_EQ(Run(ReadProgramSetting, Text("S\tK\t")), Text(std::string("\x06"
                                                                      "caf\xE9") +
                                                          '\0'));
  agent.wideStrings = true;
  Bytes expected{0x06};
  for (uint8_t b : Wide(u"caf\u00e9")) expected.push_back(b);
  expected.insert(expected.end(), {0, 0});
  EXPECT_EQ(Run(ReadProgramSetting, Wide(u"S\tK\t")), expected);
}

TEST_F(SettingsCommandsTest, NamedIniFiles) {
  EXPECT_EQ(Run(WriteIniValue, Text("C:\\A\\x.ini\tSec\tKey\tvalue")), Bytes{0x06});
  EXPECT_NE(ReadFile(root / "A" / "x.ini").find("Key=value"), std::string::npos);
  EXPECT_EQ(Run(ReadIniValue, Text("c:\\a\\X.INI\tsec\tkey\tdef")), Text(std::string("\x06"
                                                                                     "value") +
                                                                         '\0'));
  // Missing fields are empty: an empty default gives an empty value.
  EXPECT_EQ(Run(ReadIniValue, Text("C:\\A\\x.ini\tSec\tOther")), (Bytes{0x06, 0x00}));
  // Values are cut to 254 characters.
  Run(WriteIniValue, Text("C:\\A\\x.ini\tSec\tLong\t" + std::string(300, 'v')));
  EXPECT_EQ(Run(ReadIniValue, Text("C:\\A\\x.ini\tSec\tLong\t")).size(), 1u + 254 + 1);
}

TEST_F(SettingsCommandsTest, ProjectsFolderInTheDocumentsFolder) {
  const char* savedHome = getenv("HOME");
  const char* savedConfig = getenv("XDG_CONFIG_HOME");
  std::string home = savedHome ? savedHome : "";
  std::string config = savedConfig ? savedConfig : "";
  setenv("HOME", (root / "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "home" / ".config").c_str(), 1);

  EXPECT_EQ(Run(GetProjectsFolder, {}), Text(std::string("\x06"
                                                         "C:\\home\\Documents\\\\") +
                                             '\0'));
  std::ofstream(root / "A" / "Bin" / "Program Settings.ini")
      << "[OEM]\nProductName=Suite\n[Install]\nVersion=9.2\n";
  agent.wideStrings = true;
  Bytes expected{0x06};
  for (uint8_t b : Wide(u"C:\\home\\Documents\\Suite v9.2 Projects\\")) expected.push_back(b);
  EXPECT_EQ(Run(GetProjectsFolder, {}), expected);
  EXPECT_EQ(agent.paths.projectsDir, u"C:\\home\\Documents\\Suite v9.2 Projects\\");

  if (savedHome) setenv("HOME", home.c_str(), 1);
  if (savedConfig)
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsCommandsTest, MakeDirectory) {
  EXPECT_EQ(Run(MakeDirectory, Text("Logs\\Today")), Bytes{0x06});
  EXPECT_TRUE(fs::is_directory(root / "A" / "Logs" / "Today"));
  EXPECT_EQ(lines.back(), "Directory C:\\A\\Logs\\Today was created.");
  EXPECT_EQ(Run(MakeDirectory, Text("c:\\a\\logs")), Bytes{0x06});
  EXPECT_EQ(lines.back(), "Directory c:\\a\\logs was created.");
  EXPECT_FALSE(fs::exists(root / "a"));

  std::ofstream(root / "A" / "file") << "x";
  EXPECT_EQ(Run(MakeDirectory, Text("C:\\A\\file\\sub")), (Bytes{0x15, 0x0F}));
  EXPECT_EQ(lines.back(), "Cannot create directory C:\\A\\file\\sub.");
  EXPECT_EQ(Run(MakeDirectory, {}), (Bytes{0x15, 0x10}));
  EXPECT_EQ(lines.back(), "Invalid directory name.");
  EXPECT_EQ(Run(MakeDirectory, Text("Q:\\unmapped")), (Bytes{0x15, 0x0F}));
}

TEST_F(SettingsCommandsTest, RemoveDirectory) {
  fs::create_directories(root / "Gone");
  fs::create_directories(root / "Full" / "x");
  EXPECT_EQ(Run(RemoveDirectory, Text("C:\\gone")), Bytes{0x06});
  EXPECT_FALSE(fs::exists(root / "Gone"));
  EXPECT_EQ(lines.back(), "Directory C:\\gone was removed.");
  EXPECT_EQ(Run(RemoveDirectory, Text("C:\\Full")), (Bytes{0x15, 0x0F}));
  EXPECT_EQ(lines.back(), "Cannot remove directory C:\\Full.");
  EXPECT_EQ(Run(RemoveDirectory, Bytes{0x00, 'x'}), (Bytes{0x15, 0x10}));

  std::ofstream(root / "A" / "Bin" / "CEApp.INI") << "[Application]\nDirectory=C:\\Proj\\\n";
  agent.login.securityEnabled = true;
  agent.login.loggedInRights = {0, 0, 0, 0, 0};
  EXPECT_EQ(Run(RemoveDirectory, Text("C:\\Full\\x")), (Bytes{0x15, 0x35}));
  EXPECT_EQ(pauses, std::vector<uint32_t>{10000});
  EXPECT_TRUE(fs::exists(root / "Full" / "x"));
  agent.login.loggedInRights[kSendFile] = 1;
  EXPECT_EQ(Run(RemoveDirectory, Text("C:\\Full\\x")), Bytes{0x06});
}

TEST_F(SettingsCommandsTest, FileAndDirectoryExist) {
  fs::create_directories(root / "Temp");
  std::ofstream(root / "Temp" / "f.txt") << "x";
  EXPECT_EQ(Run(FileExists, Text("C:\\TEMP\\F.TXT")), Bytes{0x06});
  EXPECT_EQ(Run(FileExists, Text("C:\\Temp")), (Bytes{0x15, 0x05}));
  EXPECT_EQ(lines.back(), "Cannot find file C:\\Temp.");
  EXPECT_EQ(Run(FileExists, {}), (Bytes{0x15, 0x01}));

  EXPECT_EQ(Run(DirectoryExists, Text("C:\\Temp\\")), Bytes{0x06});
  EXPECT_EQ(Run(DirectoryExists, Text("c:\\temp")), Bytes{0x06});
  EXPECT_EQ(Run(DirectoryExists, Text("C:\\Temp\\f.txt")), (Bytes{0x15, 0x10}));
  EXPECT_EQ(Run(DirectoryExists, Text("C:\\None\\")), (Bytes{0x15, 0x10}));
  EXPECT_EQ(lines.back(), "Cannot find directory C:\\None\\.");
  EXPECT_EQ(Run(DirectoryExists, {}), (Bytes{0x15, 0x10}));
}

}  // namespace
}  // namespace perimo
