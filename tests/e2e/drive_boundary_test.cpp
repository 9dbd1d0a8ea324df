// The drive map is a boundary: no name a workstation sends reaches outside the mapped drives
// and the agent's own folders, whatever ".." or "\\?\unix" it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "e2e/agent_harness.h"
#include "workstation/workstation.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;
using workstation::TextFrame;

constexpr uint8_t kAck = 0x06;
const Bytes kNotFound{0x15, 0x05};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class DriveBoundary : public ::testing::Test {
 protected:
  void Boot(AgentOptions options) {
    options.env.emplace_back("LC_ALL", "C");
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
    ws = agent->Connect();
    ASSERT_TRUE(ws.connected());
    ASSERT_TRUE(ws.Request(Frame(0x13)));
    ws.SetFramed(true);
  }
  std::optional<Bytes> Ask(const Bytes& frame) { return ws.Request(frame, 20000); }

  // The folder that holds drive C (the agent's folder), the user folder and the secrets.
  fs::path Outside() const { return agent->folder().parent_path(); }
  std::string UnixOutside() const {
    std::string wire = "\\\\?\\unix" + Outside().string();
    std::replace(wire.begin(), wire.end(), '/', '\\');
    return wire;
  }

  std::unique_ptr<AgentHarness> agent;
  workstation::Workstation ws;
};

TEST_F(DriveBoundary, NoRequestNameLeavesTheDriveMapOrTheAgentsFolders) {
  AgentOptions options;
  options.files = {{"Data/earlier.txt", "inside"},
                   {"../secret.txt", "outside"},
                   {"../secret.ini", "[S]\nK=leak\n"},
                   {"../data/own.txt", "own"}};
  Boot(std::move(options));
  const std::string unix = UnixOutside();
  const std::set<std::string> before = Names(Outside());

  struct Case {
    std::string name;
    Bytes reply;
  };
  const Case exists[] = {
      {"C:\\..\\secret.txt", kNotFound},
      {"C:/../../secret.txt", kNotFound},
      {"\\..\\secret.txt", kNotFound},
      {"..\\secret.txt", kNotFound},
      {"../../../secret.txt", kNotFound},
      {unix + "\\secret.txt", kNotFound},
      {unix + "\\agent\\..\\secret.txt", kNotFound},
      {unix + "/data/../secret.txt", kNotFound},
      {"\\\\?\\unix\\..\\..\\etc\\hostname\\..\\..\\" + Outside().string() + "\\secret.txt",
       kNotFound},
      {"C:\\..\\Data\\earlier.txt", Bytes{kAck}},
      {unix + "\\agent\\Data\\earlier.txt", Bytes{kAck}},
      {unix + "\\data\\own.txt", Bytes{kAck}},  // the per-user settings folder
  };
  for (const Case& c : exists) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Ask(TextFrame(0x12, c.name)), c.reply);
  }

  // Settings files outside: a read gives the default, a write creates nothing.
  EXPECT_EQ(Ask(TextFrame(0x0D, unix + "\\secret.ini\tS\tK\tnone")),
            (Bytes{kAck, 'n', 'o', 'n', 'e', 0}));
  EXPECT_EQ(Ask(TextFrame(0x0C, unix + "\\made.ini\tS\tK\tV")), Bytes{kAck});
  EXPECT_EQ(Ask(TextFrame(0x0C, "C:\\..\\..\\made.ini\tS\tK\tV")), Bytes{kAck});

  // Transfers.
  EXPECT_EQ(Ask(TextFrame(0x04, unix + "\\secret.txt")), kNotFound);
  auto opened = Ask(TextFrame(0x01, unix + "\\secret.txt"));
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->at(0), 0x15);
  Bytes openEx{0x2D};
  workstation::AppendU32(openEx, 3);
  const std::string target = unix + "\\agent\\..\\secret.txt";
  openEx.insert(openEx.end(), target.begin(), target.end());
  opened = Ask(openEx);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->at(0), 0x15);

  // A relative name is taken from the agent's folder's parent, which is drive C's root.
  EXPECT_EQ(Ask(TextFrame(0x01, "..\\..\\..\\secret.txt")), Bytes{kAck});
  Bytes block{0x02};
  workstation::AppendU32(block, 4);
  block.insert(block.end(), {'n', 'e', 'w', '!'});
  EXPECT_EQ(Ask(block), Bytes{kAck});
  Bytes close{0x03};
  close.resize(25, 0);
  workstation::AppendU32(close, 0x20);
  EXPECT_EQ(Ask(close), Bytes{kAck});
  EXPECT_EQ(ReadFile(agent->Path("secret.txt")), "new!");

  EXPECT_EQ(ReadFile(Outside() / "secret.txt"), "outside");
  EXPECT_EQ(Names(Outside()), before);
  EXPECT_EQ(Ask(Frame(0x80)), Bytes{kAck});
}

TEST_F(DriveBoundary, TheDriveMapComesFromTheSettingsFileInTheUserFolder) {
  AgentOptions options;
  options.settingsInUserFolder = true;
  options.files = {{"Data/earlier.txt", "inside"}};
  Boot(std::move(options));
  // Drive C is the agent's folder, as that file maps it (not the whole machine).
  EXPECT_EQ(Ask(TextFrame(0x12, "C:\\Data\\earlier.txt")), Bytes{kAck});
  EXPECT_EQ(Ask(TextFrame(0x0C, "C:\\Data\\made.ini\tS\tK\tV")), Bytes{kAck});
  EXPECT_EQ(ReadFile(agent->Path("Data/made.ini")), "[S]\r\nK=V\r\n");
}

}  // namespace
}  // namespace perimo::e2e
