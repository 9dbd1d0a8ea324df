// perimo-ws driven as a person drives it, against real agents: every command the agent
// answers, its exit codes, security, a connection lost in the middle of a transfer, fleets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "e2e/perimo_ws_runner.h"
#include "security/users_file.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string Content(size_t size, unsigned seed) {
  std::string content(size, 0);
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
  return content;
}

class PerimoWsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "perimo-ws-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    local = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(local, ignored);
  }

  AgentHarness& Boot(AgentOptions options = {}) {
    options.env.emplace_back("LC_ALL", "C");
    agents.push_back(std::make_unique<AgentHarness>(std::move(options)));
    EXPECT_TRUE(agents.back()->Start()) << agents.back()->error();
    return *agents.back();
  }

  std::string Host(const AgentHarness& agent) {
    return "127.0.0.1:" + std::to_string(agent.port());
  }

  pid_t Start(std::vector<std::string> args, const std::string& password = {}) {
    return WsRunner(local).Start(std::move(args), password);
  }
  WsRun Wait(pid_t pid) { return WsRunner(local).Wait(pid); }
  WsRun Ws(std::vector<std::string> args, const std::string& password = {}) {
    return WsRunner(local).Run(std::move(args), password);
  }

  fs::path local;
  std::vector<std::unique_ptr<AgentHarness>> agents;
};

TEST_F(PerimoWsTest, InfoReportsTheAgentInTextAndJson) {
  AgentOptions options;
  options.ini["Setup"]["LockDownload"] = "1";
  auto& agent = Boot(options);
  WsRun run = Ws({"--host", Host(agent), "info"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Kalder v1.0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Locale:         1033"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Download lock:  1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Security:       off"), std::string::npos) << run.out;

  run = Ws({"--json", "--host", Host(agent), "info"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"agent_version\":\"7.12\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"block_size\":16384"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"ok\":true"), std::string::npos) << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
}

TEST_F(PerimoWsTest, PutAndGetRoundTripFilesWithTimesAndAttributes) {
  auto& agent = Boot();
  const std::string host = Host(agent);
  ASSERT_EQ(Ws({"--host", host, "mkdir", "C:\\Proj\\Screens"}).code, 0);
  EXPECT_TRUE(fs::is_directory(agent.Path("Proj/Screens")));

  struct Case {
    const char* name;
    size_t size;
    const char* compress;
  };
  const Case cases[] = {{"empty.bin", 0, "none"},         {"small.txt", 1000, "none"},
                        {"large.bin", 10u << 20, "none"}, {"packed.bin", 300000, "lzss"},
                        {"packed2.bin", 300000, "lzw"},   {"packed3.bin", 300000, "huffman"}};
  // Every other case keeps 8-bit names; the rest take 16-bit names where the agent offers them.
  bool narrow = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    narrow = !narrow;
    const std::string width = narrow ? "--narrow" : "--timeout=30";
    const std::string content = Content(c.size, static_cast<unsigned>(c.size));
    const fs::path source = local / "up" / c.name;
    WriteFile(source, content);
    // A time of 2021 and a read-only file: both travel.
    const timespec times[2] = {{1612345678, 0}, {1612345678, 500000000}};
    utimensat(AT_FDCWD, source.c_str(), times, 0);
    chmod(source.c_str(), 0444);
    const std::string remote = std::string("C:\\Proj\\") + c.name;
    WsRun run =
        Ws({width, "--host", host, "put", "--compress", c.compress, source.string(), remote});
    ASSERT_EQ(run.code, 0) << run.err;
    const fs::path placed = agent.Path(std::string("Proj/") + c.name);
    EXPECT_EQ(ReadFile(placed), content);
    struct stat st {};
    ASSERT_EQ(stat(placed.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1612345678);
    EXPECT_EQ(st.st_mode & 0222, 0u);

    const fs::path back = local / "down" / c.name;
    fs::create_directories(back.parent_path());
    run = Ws({width, "--host", host, "get", remote, back.string()});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadFile(back), content);
    ASSERT_EQ(stat(back.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1612345678);
    EXPECT_EQ(st.st_mode & 0222, 0u);
  }
  // Nothing but the fetched files is left in the local folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(local / "down"), fs::directory_iterator()),
            std::size(cases));
}

TEST_F(PerimoWsTest, FoldersSettingsAndRefusals) {
  auto& agent = Boot();
  const std::string host = Host(agent);
  WriteFile(local / "tree" / "Main.APP", "app");
  WriteFile(local / "tree" / "Screens" / "one.scr", "one");
  WriteFile(local / "tree" / "Screens" / "deep" / "two.scr", "two");
  WsRun run = Ws({"--host", host, "put", "-r", (local / "tree").string(), "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(agent.Path("Proj/Screens/deep/two.scr")), "two");

  // A folder given without -r is a usage error; the folder that is not empty is refused.
  EXPECT_EQ(Ws({"--host", host, "put", (local / "tree").string(), "C:\\Other"}).code, 2);
  run = Ws({"--host", host, "rmdir", "C:\\Proj\\Screens"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("NAK 0x0F"), std::string::npos) << run.err;
  ASSERT_EQ(Ws({"--host", host, "mkdir", "C:\\Proj\\Empty"}).code, 0);
  ASSERT_EQ(Ws({"--host", host, "rmdir", "C:\\Proj\\Empty"}).code, 0);
  EXPECT_FALSE(fs::exists(agent.Path("Proj/Empty")));

  // A missing remote file: refused, and no local file appears.
  run = Ws({"--host", host, "get", "C:\\Proj\\missing.txt", (local / "missing.txt").string()});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("NAK 0x05"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(local / "missing.txt"));

  ASSERT_EQ(Ws({"--host", host, "ini", "set", "C:\\Proj\\my.ini", "Main", "Key", "a value"}).code,
            0);
  run = Ws({"--host", host, "ini", "get", "C:\\Proj\\my.ini", "main", "KEY"});
  EXPECT_EQ(run.out, "a value\n");
  run = Ws({"--json", "--host", host, "ini", "get", "C:\\Proj\\my.ini", "Main", "Absent",
            "--default", "fallback"});
  EXPECT_NE(run.out.find("\"value\":\"fallback\""), std::string::npos) << run.out;

  ASSERT_EQ(Ws({"--host", host, "setting", "set", "Application", "Configuration", "x.app"}).code,
            0);
  run = Ws({"--host", host, "setting", "get", "Application", "Configuration"});
  EXPECT_EQ(run.out, "x.app\n");
}

TEST_F(PerimoWsTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"put", "only-one"},
      {"--host", "127.0.0.1:99999", "info"},
      {"--serial", "/dev/null", "--baud", "0", "info"},
      {"--hosts", "/nonexistent", "info"},
      {"--timeout", "0", "info"},
      {"runtime", "post", "1", "2", "x"},
      {"frobnicate"},
  };
  for (const auto& args : cases) {
    const WsRun run = Ws(args);
    EXPECT_EQ(run.code, 2) << args.front() << ": " << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_EQ(Ws({"put", "--help"}).code, 0);
}

UserList Users() {
  return {{u"Alice", u"Secret1", {1, 1, 1, 1, 1}}, {u"bob", u"pw", {0, 1, 0, 0, 0}}};
}

AgentOptions Locked(const std::string& psk = {}) {
  AgentOptions options;
  const auto bytes = SerializeUsersFile(Users(), true);
  options.files.emplace_back("perimo.BIN", std::string(bytes.begin(), bytes.end()));
  if (!psk.empty()) options.ini["Protection"]["InternalKey"] = psk;
  return options;
}

TEST_F(PerimoWsTest, SecuredAgentLinksAndLogsInByItself) {
  auto& agent = Boot(Locked("Cabinet 7"));
  const std::string host = Host(agent);
  WriteFile(local / "psk", "Cabinet 7\n");
  WriteFile(local / "password", "Secret1\n");
  WriteFile(local / "f.txt", "secured");
  WsRun run = Ws({"--host", host, "--psk-file", (local / "psk").string(), "--user", "alice",
                  "--password-file", (local / "password").string(), "put",
                  (local / "f.txt").string(), "C:\\f.txt"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(agent.Path("f.txt")), "secured");
  run = Ws({"--host", host, "--psk-file", (local / "psk").string(), "--user", "Alice", "info"},
           "Secret1");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Security:       on"), std::string::npos);

  // Without a user, and under the wrong pre-shared key: no login (4).
  run = Ws({"--host", host, "--psk-file", (local / "psk").string(), "info"});
  EXPECT_EQ(run.code, 4) << run.err;
  run = Ws({"--host", host, "--user", "Alice", "info"}, "Secret1");
  EXPECT_EQ(run.code, 4) << run.err;
}

TEST_F(PerimoWsTest, WrongPasswordExitsWithFourAndRefusalWithOne) {
  auto& agent = Boot(Locked());
  const std::string host = Host(agent);
  WsRun run = Ws({"--host", host, "--user", "Alice", "info"}, "wrong");
  EXPECT_EQ(run.code, 4);
  EXPECT_NE(run.err.find("login failed"), std::string::npos) << run.err;

  // bob may read but not send: the agent's refusal and its meaning. (The agent holds back
  // for 10 s after each of these, so the second waits for the first.)
  WriteFile(local / "f.txt", "x");
  run = Ws({"--host", host, "--user", "bob", "--timeout", "30", "put", (local / "f.txt").string(),
            "C:\\f.txt"},
           "pw");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("refused by the security gate or the user's rights (NAK 0x35)"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(agent.Path("f.txt")));
}

TEST_F(PerimoWsTest, ConnectionLostMidTransferExitsWithThreeAndLeavesNoFile) {
  AgentOptions options;
  options.files.emplace_back("big.bin", Content(96u << 20, 5));
  auto& agent = Boot(options);
  const pid_t ws =
      Start({"--host", Host(agent), "get", "C:\\big.bin", (local / "big.bin").string()});
  // The temporary file beside the target appears with the first block; then the agent dies.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool seen = false;
  while (!seen && std::chrono::steady_clock::now() < deadline) {
    for (const auto& entry : fs::directory_iterator(local)) {
      seen |= entry.path().filename().string().rfind("big.bin.", 0) == 0;
    }
  }
  ASSERT_TRUE(seen);
  kill(agent.pid(), SIGKILL);
  const WsRun run = Wait(ws);
  EXPECT_EQ(run.code, 3) << run.err;
  for (const auto& entry : fs::directory_iterator(local)) {
    EXPECT_EQ(entry.path().filename().string().rfind("big.bin", 0), std::string::npos)
        << entry.path();
  }
  // Nobody listens any more: no connection (3).
  EXPECT_EQ(Ws({"--host", Host(agent), "--timeout", "2", "info"}).code, 3);
}

TEST_F(PerimoWsTest, FleetOfThreeWithOneStoppedReportsEachTarget) {
  auto& a = Boot();
  auto& b = Boot();
  auto& c = Boot();
  b.Stop();
  WriteFile(local / "hosts", "# targets\n" + Host(a) + "\n\n" + Host(b) + "\n" + Host(c) + "\n");
  WriteFile(local / "f.txt", "fleet");
  WsRun run = Ws({"--hosts", (local / "hosts").string(), "--parallel", "2", "--timeout", "5", "put",
                  (local / "f.txt").string(), "C:\\f.txt"});
  EXPECT_EQ(run.code, 3) << run.out;
  EXPECT_NE(run.out.find("2 of 3 targets succeeded"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(Host(b) + "  3"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(a.Path("f.txt")), "fleet");
  EXPECT_EQ(ReadFile(c.Path("f.txt")), "fleet");

  run = Ws({"--json", "--hosts", (local / "hosts").string(), "info"});
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4) << run.out;
  EXPECT_NE(run.out.find("\"failed\":1"), std::string::npos) << run.out;
  // Commands other than put, sync, runtime and info do not take a fleet.
  EXPECT_EQ(Ws({"--hosts", (local / "hosts").string(), "ls"}).code, 2);
}

// Whether the agent answers the command code at all (some commands land later than others).
bool Answers(AgentHarness& agent, workstation::Bytes frame) {
  auto ws = agent.Connect();
  if (!ws.Request(workstation::Frame(0x13))) return false;
  ws.SetFramed(true);
  return ws.Request(frame, 2000).has_value();
}

TEST_F(PerimoWsTest, SyncSendsOnlyWhatChangedDeletesAndDryRuns) {
  auto& agent = Boot();
  if (!Answers(agent, workstation::TextFrame(0x35, "C:\\none"))) {
    GTEST_SKIP() << "this agent does not answer 0x35 yet";
  }
  const std::string host = Host(agent);
  for (int i = 0; i < 200; ++i) {
    WriteFile(local / "proj" / ("S" + std::to_string(i % 7)) / ("f" + std::to_string(i) + ".scr"),
              Content(100 + i, i));
  }
  WriteFile(agent.Path("Proj/stale.txt"), "stale");
  const std::string src = (local / "proj").string();
  WsRun run = Ws({"--json", "--host", host, "sync", src, "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"skipped\":0"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(agent.Path("Proj/stale.txt")));

  for (int i : {3, 50, 199}) {
    WriteFile(local / "proj" / ("S" + std::to_string(i % 7)) / ("f" + std::to_string(i) + ".scr"),
              "touched");
  }
  run = Ws({"--host", host, "sync", "--delete", "--dry-run", src, "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("3 to send, 197 skipped, 1 to delete"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(agent.Path("Proj/stale.txt")));
  run = Ws({"--host", host, "sync", "--delete", src, "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("3 sent, 197 skipped, 1 deleted"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(agent.Path("Proj/stale.txt")));
  EXPECT_EQ(ReadFile(agent.Path("Proj/S1/f50.scr")), "touched");
}

TEST_F(PerimoWsTest, ListingsAndRemoval) {
  AgentOptions options;
  options.files = {{"Proj/Main.APP", "m"},
                   {"Proj/A/B/x.txt", "x"},
                   {"Proj/C/y.txt", "y"},
                   {"Proj/r1.tmp", "1"},
                   {"Proj/r2.tmp", "2"}};
  auto& agent = Boot(options);
  if (!Answers(agent, workstation::TextFrame(0x16, "C:\\Proj"))) {
    GTEST_SKIP() << "this agent does not answer the listing commands yet";
  }
  const std::string host = Host(agent);
  WsRun run = Ws({"--host", host, "ls", "C:\\Proj"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("<DIR>+              A\\"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  Main.APP"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("x.txt"), std::string::npos) << run.out;
  run = Ws({"--host", host, "ls", "--projects", "C:\\Proj"});
  EXPECT_NE(run.out.find("A\\B\\x.txt"), std::string::npos) << run.out;
  run = Ws({"--host", host, "ls", "--drives"});
  EXPECT_EQ(run.out, "C:\n");
  ASSERT_EQ(Ws({"--host", host, "rm", "C:\\Proj\\*.tmp"}).code, 0);
  EXPECT_FALSE(fs::exists(agent.Path("Proj/r1.tmp")));
  EXPECT_TRUE(fs::exists(agent.Path("Proj/Main.APP")));
  run = Ws({"--host", host, "get", "-r", "C:\\Proj", (local / "copy").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(local / "copy" / "A" / "B" / "x.txt"), "x");
}

// The Ansible module, run by ansible-playbook over a local connection against two agents:
// the first run changes both, the second neither.
TEST_F(PerimoWsTest, AnsibleModuleSyncsTwoAgentsThenReportsNoChange) {
  if (std::system("ansible-playbook --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ansible-playbook is not installed";
  }
  auto& a = Boot();
  auto& b = Boot();
  if (!Answers(a, workstation::TextFrame(0x35, "C:\\none"))) {
    GTEST_SKIP() << "this agent does not answer 0x35 yet";
  }
  WriteFile(local / "proj" / "Main.APP", "main");
  WriteFile(local / "proj" / "S" / "one.scr", "one");
  WriteFile(local / "inventory", "a agent=" + Host(a) + "\nb agent=" + Host(b) + "\n");
  WriteFile(local / "play.yml",
            "- hosts: all\n  connection: local\n  gather_facts: false\n  tasks:\n"
            "    - perimo_sync:\n        src: " +
                (local / "proj").string() +
                "\n        dest: 'C:\\Proj'\n        agent: '{{ agent }}'\n        perimo_ws: " +
                WsBinary().string() + "\n");
  const char* source = std::getenv("PERIMO_SOURCE_DIR");
  const std::string library = std::string(source ? source : ".") + "/tools/ansible/library";
  const std::string command = "ANSIBLE_LIBRARY=" + library +
                              " ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_NOCOLOR=1 "
                              "ansible-playbook -i " +
                              (local / "inventory").string() + " " + (local / "play.yml").string() +
                              " > " + (local / "ansible.txt").string() + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(local / "ansible.txt");
  std::string recap = ReadFile(local / "ansible.txt");
  EXPECT_NE(recap.find("changed=1"), std::string::npos) << recap;
  EXPECT_EQ(ReadFile(b.Path("Proj/S/one.scr")), "one");
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(local / "ansible.txt");
  recap = ReadFile(local / "ansible.txt");
  EXPECT_EQ(recap.find("changed=1"), std::string::npos) << recap;
  EXPECT_NE(recap.find("changed=0"), std::string::npos) << recap;
}

}  // namespace
}  // namespace perimo::e2e
