// perimo-ws over a serial line: the agent on one end of a null-modem pair of
// pseudo-terminals, perimo-ws on the other end by its path, exactly as with a real cable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "e2e/agent_harness.h"
#include "e2e/null_modem.h"
#include "e2e/perimo_ws_runner.h"
#include "security/sha1.h"
#include "security/users_file.h"
#include "workstation/serial_workstation.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kBaud[] = "115200";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Bytes no coder shrinks.
std::string Noise(size_t size, uint32_t seed) {
  std::string content(size, 0);
  for (char& c : content) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return content;
}

// Text-like bytes that every coder shrinks, with each of STX, ETX and DLE in it.
std::string Compressible(size_t size) {
  std::string content;
  for (size_t line = 0; content.size() < size; ++line) {
    content +=
        "Tag" + std::to_string(line % 97) + "\x10=\x02" + std::to_string(line * 7) + "\x03\n";
  }
  content.resize(size);
  return content;
}

std::string Sha1Hex(const std::string& content) {
  CSHA1 sha;
  sha.Update(reinterpret_cast<const uint8_t*>(content.data()), content.size());
  sha.Final();
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : sha.GetHash()) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

class PerimoWsSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "perimo-ws-serial-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    local = pattern;
    ASSERT_TRUE(line.Open());
  }
  void TearDown() override {
    agent.reset();
    std::error_code ignored;
    fs::remove_all(local, ignored);
  }

  void Boot(AgentOptions options = {}) {
    options.ini["Setup"]["Device"] = "0";
    options.ini["Setup"]["SerialPort"] = "0";
    options.ini["Setup"]["SerialBaud"] = kBaud;
    options.ini["Serial"]["COM1"] = line.agentEnd();
    options.waitForListener = false;
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
    // The agent answers once its port is open.
    workstation::SerialWorkstation probe;
    std::string error;
    ASSERT_EQ(probe.Open(line.workstationEnd(), std::stoi(kBaud), error),
              workstation::SerialOpenError::kNone)
        << error;
    ASSERT_TRUE(probe.WaitReady()) << "the agent does not answer on " << line.agentEnd();
  }

  // perimo-ws on the workstation end of the line.
  WsRun OnLine(std::vector<std::string> args, const std::string& password = {}) {
    args.insert(args.begin(),
                {"--serial", line.workstationEnd(), "--baud", kBaud, "--timeout", "20"});
    return WsRunner(local).Run(std::move(args), password);
  }

  fs::path local;
  NullModem line;
  std::unique_ptr<AgentHarness> agent;
};

TEST_F(PerimoWsSerialTest, InfoOverTheLine) {
  Boot();
  WsRun run = OnLine({"info"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Block size:     16384"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Security:       off"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Strings:        16-bit"), std::string::npos) << run.out;

  run = OnLine({"--json", "info"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"serial\":\"" + line.workstationEnd() + "\""), std::string::npos)
      << run.out;
}

TEST_F(PerimoWsSerialTest, PutsCompressedWhereItPaysAndTheContentComesBack) {
  Boot();
  const std::string small = Noise(3000, 7);
  const std::string large = Compressible(200 * 1024);
  WriteFile(local / "small.bin", small);
  WriteFile(local / "large.txt", large);

  WsRun run = OnLine({"--json", "put", (local / "small.bin").string(), "C:\\small.bin"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"compression\":\"none\""), std::string::npos) << run.out;
  run = OnLine({"--json", "put", (local / "large.txt").string(), "C:\\large.txt"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.find("\"compression\":\"none\""), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(agent->Path("small.bin")), small);
  EXPECT_EQ(ReadFile(agent->Path("large.txt")), large);

  // The digest the agent computes, and the file fetched back block by block.
  run = OnLine({"digest", "C:\\large.txt", "C:\\small.bin"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, Sha1Hex(large) + "  C:\\large.txt\n" + Sha1Hex(small) + "  C:\\small.bin\n");
  run = OnLine({"get", "C:\\large.txt", (local / "back.txt").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(local / "back.txt"), large);

  // Asked for, the large file goes uncompressed as well.
  run = OnLine(
      {"--json", "put", "--compress", "none", (local / "large.txt").string(), "C:\\plain.txt"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"compression\":\"none\""), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(agent->Path("plain.txt")), large);
}

// Listings page by page, digests one at a time and sends: what sync does over the line.
TEST_F(PerimoWsSerialTest, SyncAndListingsOverTheLine) {
  AgentOptions options;
  options.files = {{"Proj/stale.txt", "stale"}, {"Proj/Sub/keep.scr", "old"}};
  Boot(options);
  const fs::path src = local / "proj";
  fs::create_directories(src / "Sub");
  for (int i = 0; i < 12; ++i) WriteFile(src / ("f" + std::to_string(i) + ".scr"), Noise(700, i));
  WriteFile(src / "Sub" / "keep.scr", "new");
  WsRun run = OnLine({"sync", "--delete", src.string(), "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("13 sent, 0 skipped, 1 deleted"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(agent->Path("Proj/Sub/keep.scr")), "new");
  EXPECT_FALSE(fs::exists(agent->Path("Proj/stale.txt")));

  WriteFile(src / "f5.scr", "touched");
  run = OnLine({"sync", src.string(), "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("1 sent, 12 skipped"), std::string::npos) << run.out;
  run = OnLine({"ls", "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Sub\\"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  f11.scr"), std::string::npos) << run.out;
}

TEST_F(PerimoWsSerialTest, ALockedAgentTakesTheLoginOnTheClearLine) {
  const UserList users{{u"Alice", u"Secret1", {1, 1, 1, 1, 1}}};
  const auto bytes = SerializeUsersFile(users, true);
  AgentOptions options;
  options.files.emplace_back("perimo.BIN", std::string(bytes.begin(), bytes.end()));
  Boot(options);
  WriteFile(local / "f.txt", "over the line");
  WsRun run =
      OnLine({"--user", "Alice", "put", (local / "f.txt").string(), "C:\\f.txt"}, "Secret1");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(agent->Path("f.txt")), "over the line");
  run = OnLine({"info"});
  EXPECT_EQ(run.code, 4) << run.err;
}

TEST_F(PerimoWsSerialTest, DevicesThatCannotCarryTheLinkAreClearErrors) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {{"--serial", "/nonexistent/ttyS9", "info"}, 3, "/nonexistent/ttyS9: no such device"},
      {{"--serial", "/dev/null", "info"}, 3, "/dev/null: not a terminal device"},
      {{"--serial", line.workstationEnd(), "--timeout", "1", "info"}, 3, "no agent answers"},
      {{"--serial", line.workstationEnd(), "--baud", "0", "info"}, 2, "--baud"},
      {{"--serial", line.workstationEnd(), "--baud", "fast", "info"}, 2, "--baud"},
      {{"--serial", line.workstationEnd(), "--host", "127.0.0.1", "info"}, 2, "--host"},
  };
  for (const Case& c : cases) {
    const WsRun run = WsRunner(local).Run(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[1] << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace perimo::e2e
