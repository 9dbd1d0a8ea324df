// The upgrade program beside the agent: a staged agent replaces the old one and answers; one
// that cannot start is rolled back; an agent process that never ends leaves everything as it
// was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "e2e/fake_runtime.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using workstation::Bytes;
using workstation::Frame;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether the process is gone (or a zombie nobody collected yet).
bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const size_t close = text.rfind(')');
  return text.empty() || (close != std::string::npos && close + 2 < text.size() &&
                          (text[close + 2] == 'Z' || text[close + 2] == 'X'));
}

// Waits until the upgrade log holds a line with text; the log's text.
std::optional<std::string> WaitForLog(const fs::path& log, const std::string& text,
                                      int timeoutMs = 30000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::string content = ReadFile(log);
    if (content.find(text) != std::string::npos) return content;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The agents the upgrade program started are not our children: stop them by the ids it logged.
class StartedAgents {
 public:
  explicit StartedAgents(fs::path log) : log_(std::move(log)) {}
  ~StartedAgents() {
    const std::string text = ReadFile(log_);
    constexpr std::string_view kMark = ", process ";
    for (size_t at = text.find(kMark); at != std::string::npos; at = text.find(kMark, at + 1)) {
      const pid_t pid = std::atoi(text.c_str() + at + kMark.size());
      if (pid <= 0 || Gone(pid)) continue;
      kill(pid, SIGTERM);
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      while (!Gone(pid) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (!Gone(pid)) kill(pid, SIGKILL);
    }
  }

 private:
  fs::path log_;
};

AgentOptions WithUpgradeProgram(std::vector<std::pair<std::string, std::string>> staged) {
  AgentOptions options;
  options.files = {{"UPGRADE.EXE", BuiltFile("UPGRADE.EXE")}};
  options.executables = {"UPGRADE.EXE"};
  for (auto& file : staged) options.files.push_back(std::move(file));
  return options;
}

// Connects again and again until the agent (old or new) answers a keep-alive.
bool AgentAnswers(AgentHarness& agent, int timeoutMs = 20000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    auto ws = agent.Connect();
    if (ws.connected() && ws.Request(Frame(0x80), 1000) == Bytes{0x06}) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(UpgradeE2e, StagedAgentReplacesTheOldOneAndAnswers) {
  // The new agent: the same program with bytes appended (a loader ignores them), staged by a
  // download and so not executable yet.
  const std::string newAgent = BuiltFile("perimo") + "NEW-AGENT";
  AgentHarness agent(
      WithUpgradeProgram({{"Upgrade/perimo", newAgent}, {"Upgrade/Lang/de/texts.txt", "Hallo"}}));
  ASSERT_TRUE(agent.Start()) << agent.error();
  StartedAgents started(agent.Path("UPGRADE.LOG"));
  {
    auto ws = agent.Connect();
    EXPECT_EQ(ws.Request(Frame(0x3C)), (Bytes{0x06, '1'}));
  }
  EXPECT_EQ(agent.WaitForExit(10000), 0);
  const auto log = WaitForLog(agent.Path("UPGRADE.LOG"), "upgrade done");
  ASSERT_TRUE(log) << ReadFile(agent.Path("UPGRADE.LOG"));
  EXPECT_TRUE(AgentAnswers(agent));
  EXPECT_EQ(ReadFile(agent.Path("perimo")), newAgent);
  EXPECT_EQ(ReadFile(agent.Path("Lang/de/texts.txt")), "Hallo");
  EXPECT_NE(fs::status(agent.Path("perimo")).permissions() & fs::perms::owner_exec,
            fs::perms::none);
  EXPECT_TRUE(fs::is_empty(agent.Path("Upgrade")));
  // The replaced program is kept in the backup folder.
  EXPECT_EQ(ReadFile(agent.Path("Upgrade.bak/perimo")), BuiltFile("perimo"));
}

TEST(UpgradeE2e, NothingStagedOnlyRestartsTheAgent) {
  AgentHarness agent(WithUpgradeProgram({}));
  ASSERT_TRUE(agent.Start()) << agent.error();
  StartedAgents started(agent.Path("UPGRADE.LOG"));
  {
    auto ws = agent.Connect();
    EXPECT_EQ(ws.Request(Frame(0x3C)), (Bytes{0x06, '1'}));
  }
  EXPECT_EQ(agent.WaitForExit(10000), 0);
  const auto log = WaitForLog(agent.Path("UPGRADE.LOG"), "upgrade done: 0 file(s) replaced");
  ASSERT_TRUE(log) << ReadFile(agent.Path("UPGRADE.LOG"));
  EXPECT_NE(log->find("nothing is staged"), std::string::npos);
  EXPECT_TRUE(AgentAnswers(agent));
}

TEST(UpgradeE2e, StagedAgentThatCannotStartIsRolledBack) {
  const std::string broken = "#!/bin/sh\nexit 3\n";
  AgentHarness agent(WithUpgradeProgram({{"Upgrade/perimo", broken}}));
  ASSERT_TRUE(agent.Start()) << agent.error();
  StartedAgents started(agent.Path("UPGRADE.LOG"));
  {
    auto ws = agent.Connect();
    EXPECT_EQ(ws.Request(Frame(0x3C)), (Bytes{0x06, '1'}));
  }
  EXPECT_EQ(agent.WaitForExit(10000), 0);
  const auto log = WaitForLog(agent.Path("UPGRADE.LOG"), "rolled back; the old agent runs");
  ASSERT_TRUE(log) << ReadFile(agent.Path("UPGRADE.LOG"));
  EXPECT_NE(log->find("the new agent ended with code 3"), std::string::npos) << *log;
  EXPECT_TRUE(AgentAnswers(agent));
  EXPECT_EQ(ReadFile(agent.Path("perimo")), BuiltFile("perimo"));
  // The staged file is back where it was staged.
  EXPECT_EQ(ReadFile(agent.Path("Upgrade/perimo")), broken);
}

TEST(UpgradeE2e, ProcessThatNeverEndsLeavesEverythingUntouched) {
  AgentHarness agent(WithUpgradeProgram({{"Upgrade/perimo", "staged"}}));
  // Not started: a program of the agent's folder that never ends stands for the agent.
  const fs::path folder = agent.folder();
  fs::copy_file("/bin/sleep", folder / "perimo", fs::copy_options::overwrite_existing);
  fs::create_directories(folder / "Upgrade");
  std::ofstream(folder / "Upgrade" / "perimo") << "staged";
  std::ofstream(folder / "UPGRADE.EXE", std::ios::binary) << BuiltFile("UPGRADE.EXE");
  fs::permissions(folder / "UPGRADE.EXE", fs::perms::owner_all, fs::perm_options::add);
  const std::string before = ReadFile(folder / "perimo");

  const pid_t sleeper = fork();
  if (sleeper == 0) {
    execl((folder / "perimo").c_str(), "perimo", "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(sleeper, 0);
  const std::string upgrade = (folder / "UPGRADE.EXE").string();
  const std::string pidText = std::to_string(sleeper);
  const pid_t program = fork();
  if (program == 0) {
    execl(upgrade.c_str(), "UPGRADE.EXE", "/PID", pidText.c_str(), "/Perimo", "C:", "/ExitWait",
          "300", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(program, &status, 0);
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  const std::string log = ReadFile(folder / "UPGRADE.LOG");
  EXPECT_NE(log.find("did not end within 300 ms; nothing changed"), std::string::npos) << log;
  EXPECT_EQ(ReadFile(folder / "perimo"), before);
  EXPECT_EQ(ReadFile(folder / "Upgrade" / "perimo"), "staged");
  EXPECT_FALSE(fs::exists(folder / "Upgrade.bak"));
}

}  // namespace
}  // namespace perimo::e2e
