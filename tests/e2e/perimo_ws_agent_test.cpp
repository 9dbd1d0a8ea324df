// perimo-ws commands that reach past the agent's files, against the real agent: the runtime (a
// fake one among the agent's windows), its tasks, file digests, the registry store, and an
// upgrade through the real upgrade program. Names with characters beyond ASCII travel in both
// string widths where the width matters.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "e2e/fake_runtime.h"
#include "e2e/perimo_ws_runner.h"
#include "platform/window_endpoint.h"
#include "security/users_file.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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

// Waits for a file that a started program writes; its content once a line is complete.
std::string WaitForLine(const fs::path& path, const std::string& text, int timeoutMs = 20000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::string content = ReadFile(path);
    if (content.find(text) != std::string::npos || Clock::now() >= deadline) return content;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

struct Step {
  bool narrow;
  std::vector<std::string> args;
  int code;
  std::string text;  // standard output when code is 0, a part of standard error otherwise
};

class PerimoWsAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "perimo-ws-agent-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    local = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(local, ignored);
  }

  AgentHarness& Boot(AgentOptions options = {}) {
    options.env.emplace_back("LC_ALL", "C");
    agent = std::make_unique<AgentHarness>(std::move(options));
    EXPECT_TRUE(agent->Start()) << agent->error();
    return *agent;
  }

  // perimo-ws against the agent, in 8-bit strings when narrow.
  WsRun Ws(std::vector<std::string> args, bool narrow = false) {
    const std::vector<std::string> head = {"--host", "127.0.0.1:" + std::to_string(agent->port()),
                                           narrow ? "--narrow" : "--timeout=20"};
    args.insert(args.begin(), head.begin(), head.end());
    return WsRunner(local).Run(std::move(args));
  }

  // Runs the steps in order; each one's exit code and output as expected.
  void RunSteps(std::span<const Step> steps) {
    for (const Step& step : steps) {
      std::string line;
      for (const auto& a : step.args) line += a + " ";
      SCOPED_TRACE(line + (step.narrow ? "(8-bit)" : "(16-bit)"));
      const WsRun run = Ws(step.args, step.narrow);
      EXPECT_EQ(run.code, step.code) << run.err;
      if (step.code == 0) {
        EXPECT_EQ(run.out, step.text);
      } else {
        EXPECT_NE(run.err.find(step.text), std::string::npos) << run.err;
      }
    }
  }

  fs::path local;
  std::unique_ptr<AgentHarness> agent;
};

TEST_F(PerimoWsAgentTest, RuntimeCommandsWithoutARuntime) {
  Boot();
  const Step steps[] = {
      {false, {"runtime", "status"}, 0, "not running\n"},
      {false, {"runtime", "start"}, 1, "the runtime process cannot be created (NAK 0x0B)"},
      {false, {"runtime", "stop"}, 0, ""},
      {false, {"runtime", "screen", "Nobody"}, 0, ""},
      {false, {"runtime", "post", "1", "2", "3"}, 1, "the runtime is not running (NAK 0x0E)"},
      {false, {"task", "stop", "Pump"}, 0, "Pump: 0\n"},
  };
  RunSteps(steps);
  EXPECT_TRUE(agent->HasLine("Cannot start Runtime project."));
}

TEST_F(PerimoWsAgentTest, RuntimeRefusedWithoutTheRunStopRight) {
  AgentOptions options;
  const auto users = SerializeUsersFile(
      {{u"Alice", u"Secret1", {1, 1, 1, 1, 1}}, {u"bob", u"pw", {1, 1, 1, 1, 0}}}, true);
  options.files.emplace_back("perimo.BIN", std::string(users.begin(), users.end()));
  Boot(options);
  WriteFile(local / "alice", "Secret1\n");
  WriteFile(local / "bob", "pw\n");
  const std::string alice = "--password-file=" + (local / "alice").string();
  const std::string bob = "--password-file=" + (local / "bob").string();
  const Step steps[] = {
      {false,
       {"--user", "bob", bob, "runtime", "start"},
       1,
       "refused by the security gate or the user's rights (NAK 0x35)"},
      {false, {"--user", "bob", bob, "runtime", "stop"}, 1, "(NAK 0x35)"},
      {false, {"--user", "bob", bob, "runtime", "status"}, 0, "not running\n"},
      {true, {"--user", "Alice", alice, "runtime", "start"}, 1, "(NAK 0x0B)"},
  };
  RunSteps(steps);
}

TEST_F(PerimoWsAgentTest, RuntimeStartsWithTheConfiguredProjectAndIsStopped) {
  AgentOptions options;
  options.files = {
      {"RunStartUp.EXE", "#!/bin/sh\necho \"$#:$*\" > \"$(dirname \"$0\")/started\"\n"}};
  options.executables = {"RunStartUp.EXE"};
  Boot(options);
  ASSERT_EQ(Ws({"setting", "set", "Application", "Configuration", "C:\\Proj\\Main Plant.APP"}).code,
            0);
  const WsRun run = Ws({"runtime", "start"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(WaitForLine(agent->Path("started"), "\n"), "1:C:\\Proj\\Main Plant.APP\n");

  // A window whose class is the product title (by default) tells that the runtime runs.
  setenv("PERIMO_WINDOWS_DIR", agent->windowsFolder().c_str(), 1);
  platform::WindowEndpoint viewer;
  ASSERT_TRUE(viewer.Open(platform::WindowKey::kClass, u"Kalder v6.1"));
  EXPECT_EQ(Ws({"runtime", "status"}).out, "running\n");
  EXPECT_NE(Ws({"--json", "runtime", "status"}).out.find("\"running\":true"), std::string::npos);
  viewer.Close();

  FakeRuntime runtime(*agent);
  ASSERT_TRUE(runtime.Start());
  ASSERT_EQ(Ws({"runtime", "stop"}).code, 0);
  EXPECT_TRUE(runtime.WaitForExit(5000));
  const auto messages = runtime.Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], "viewer post 1424 0 0");
  EXPECT_EQ(messages[1], "main post 1035 0 1");
  EXPECT_TRUE(agent->WaitForLine("Runtime was stopped."));
}

TEST_F(PerimoWsAgentTest, ScreensAndMessagesReachTheViewerInBothWidths) {
  Boot();
  FakeRuntime runtime(*agent);
  ASSERT_TRUE(runtime.Start());
  struct Case {
    bool narrow;
    std::vector<std::string> args;
    std::string posted;      // the viewer's log line
    std::string statusLine;  // the agent's
  };
  const Case cases[] = {
      {false, {"screen", "Boiler"}, "viewer post 1363 2 0", "Screen Boiler was updated."},
      // A screen name always travels in 8 bits, whatever the session's width.
      {false, {"screen", "Kessel-\xC3\x9C"}, "", "Screen Kessel-\xC3\x9C was updated."},
      {true, {"screen", "Gr\xC3\xBCn"}, "", "Screen Gr\xC3\xBCn was updated."},
      {false,
       {"post", "1024", "5", "-1"},
       "viewer post 1024 5 -1",
       "Post message (1024, 5, -1) to the Runtime."},
      // The full unsigned range of message and wParam, the signed one of lParam.
      {true,
       {"post", "4294967295", "4294967295", "-2147483648"},
       "viewer post 4294967295 4294967295 -2147483648",
       "Post message (4294967295, 4294967295, -2147483648) to the Runtime."},
      {false, {"post", "0x10", "0", "0"}, "", ""},  // not a decimal number: usage
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "runtime");
    SCOPED_TRACE(args[2]);
    const WsRun run = Ws(args, c.narrow);
    if (c.statusLine.empty()) {
      EXPECT_EQ(run.code, 2);
      continue;
    }
    ASSERT_EQ(run.code, 0) << run.err;
    if (!c.posted.empty()) {
      EXPECT_TRUE(runtime.WaitForMessage(c.posted));
    }
    EXPECT_TRUE(agent->WaitForLine(c.statusLine)) << c.statusLine;
  }
  // One name that the 8-bit code page cannot carry is a usage error, not a garbled screen name.
  const WsRun run = Ws({"runtime", "screen", "Ventil-\xCE\xA9"});
  EXPECT_EQ(run.code, 2) << run.err;
}

TEST_F(PerimoWsAgentTest, TaskCommandsPassNamesInBothWidths) {
  Boot();
  // The fake answers each task message with the name's length in characters.
  FakeRuntime runtime(*agent, {"--no-viewer"});
  ASSERT_TRUE(runtime.Start());
  const Step steps[] = {
      {false, {"task", "start", "Pump"}, 0, "Pump: 4\n"},
      {false, {"task", "query", "A", "BB", "CCC"}, 0, "A: 1\nBB: 2\nCCC: 3\n"},
      {false,
       {"task", "stop", "Ventil-\xCE\xA9\xE2\x86\x92"},
       0,
       "Ventil-\xCE\xA9\xE2\x86\x92: 9\n"},
      {true, {"task", "start", "P\xC3\xBCmpe", "\xC3\x96l"}, 0, "P\xC3\xBCmpe: 5\n\xC3\x96l: 2\n"},
      {true, {"task", "query", "\xC3\x96l", "Z"}, 0, "\xC3\x96l: 2\nZ: 1\n"},
      {true, {"task", "stop", "Ventil-\xCE\xA9"}, 2, "8-bit strings cannot carry"},
  };
  RunSteps(steps);
  for (const char* line : {"task 0 Pump", "task 1 CCC", "task 2 Ventil-\xCE\xA9\xE2\x86\x92",
                           "task 0 P\xC3\xBCmpe", "task 1 \xC3\x96l"}) {
    EXPECT_TRUE(runtime.WaitForMessage(line)) << line;
  }
  const WsRun run = Ws({"--json", "task", "query", "A", "BB"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find(R"("tasks":[{"name":"A","status":1},{"name":"BB","status":2}])"),
            std::string::npos)
      << run.out;
}

TEST_F(PerimoWsAgentTest, DigestsAreTheSha1OfTheLocalFiles) {
  const std::string big(70000, 'q');
  const std::string wideName =
      "Pr\xC3\xBC"
      "fung \xCE\xA9.bin";  // not in Latin-1
  const std::string latinName =
      "Gr\xC3\xB6\xC3\x9F"
      "e.txt";  // in Latin-1
  AgentOptions options;
  options.files = {{"abc.txt", "abc"},
                   {"empty.bin", ""},
                   {"Sub/" + wideName, big},
                   {"Sub/" + latinName, "Masse"}};
  Boot(options);
  auto sha = [](const std::string& content) { return platform::Sha1Hex(content); };
  const std::string wideRemote = "C:\\Sub\\" + wideName, latinRemote = "C:\\Sub\\" + latinName;
  const Step steps[] = {
      {false, {"digest", "C:\\abc.txt"}, 0, sha("abc") + "  C:\\abc.txt\n"},
      {true,
       {"digest", "C:\\abc.txt", "C:\\empty.bin"},
       0,
       sha("abc") + "  C:\\abc.txt\n" + sha("") + "  C:\\empty.bin\n"},
      {false, {"digest", wideRemote}, 0, sha(big) + "  " + wideRemote + "\n"},
      {false, {"digest", latinRemote}, 0, sha("Masse") + "  " + latinRemote + "\n"},
      {true, {"digest", latinRemote}, 0, sha("Masse") + "  " + latinRemote + "\n"},
      {true, {"digest", wideRemote}, 2, "8-bit strings cannot carry"},
      {false,
       {"digest", "C:\\abc.txt", "C:\\missing.txt"},
       1,
       "digest of C:\\missing.txt: invalid or empty file name, or the file does not exist "
       "(NAK 0x01)"},
  };
  RunSteps(steps);
  // The digest of a file as placed on the target equals the local file's.
  for (const auto& [name, content] : options.files) {
    EXPECT_EQ(sha(ReadFile(agent->Path(name))), sha(content)) << name;
  }
  const WsRun run = Ws({"--json", "digest", "C:\\abc.txt"});
  EXPECT_NE(run.out.find(R"("digests":[{"name":"C:\\abc.txt","sha1":")" + sha("abc") + "\"}]"),
            std::string::npos)
      << run.out;
}

TEST_F(PerimoWsAgentTest, RegistryValuesInBothWidths) {
  Boot();
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Perimo Test";
  const std::string wideKey =
      "HKEY_CURRENT_USER\\Software\\Gr\xC3\xB6\xC3\x9F"
      "e \xCE\xA9";
  const std::string latinKey =
      "HKEY_USERS\\Software\\Gr\xC3\xB6\xC3\x9F"
      "e";
  const Step steps[] = {
      // Without a name: the key's default value.
      {false, {"reg", "set", key, "default text"}, 0, ""},
      {false, {"reg", "get", key}, 0, "default text\n"},
      {true, {"reg", "get", "hkey_local_machine\\SOFTWARE\\perimo test"}, 0, "default text\n"},
      {false, {"reg", "set", key, "Named", "named text"}, 0, ""},
      {false, {"reg", "get", key, "named"}, 0, "named text\n"},
      {false, {"reg", "get", key}, 0, "default text\n"},
      // Names and values beyond Latin-1 in 16 bits; Latin-1 ones in 8 bits, read back in 16.
      {false, {"reg", "set", wideKey, "Name \xCE\xA9", "Wert \xE2\x86\x92"}, 0, ""},
      {false, {"reg", "get", wideKey, "Name \xCE\xA9"}, 0, "Wert \xE2\x86\x92\n"},
      {true, {"reg", "set", latinKey, "Ma\xC3\x9F", "Gr\xC3\xBCn"}, 0, ""},
      {false, {"reg", "get", latinKey, "Ma\xC3\x9F"}, 0, "Gr\xC3\xBCn\n"},
      {true, {"reg", "get", latinKey, "Ma\xC3\x9F"}, 0, "Gr\xC3\xBCn\n"},
      {true, {"reg", "get", wideKey, "Name \xCE\xA9"}, 2, "8-bit strings cannot carry"},
      // Refusals: the status character and its meaning.
      {false, {"reg", "get", "HKCU\\Software", "x"}, 1, "unknown root key name (status '1')"},
      {false, {"reg", "set", "HKLM\\Software", "x"}, 1, "unknown root key name (status '1')"},
      {false, {"reg", "get", key, "absent"}, 1, "the registry operation failed (status '2')"},
      {false, {"reg", "get", "HKEY_USERS\\No\\Such\\Key"}, 1, "registry operation failed"},
  };
  RunSteps(steps);
  WsRun run = Ws({"--json", "reg", "get", latinKey, "Ma\xC3\x9F"});
  EXPECT_NE(run.out.find("\"value\":\"Gr\xC3\xBCn\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"ok\":true"), std::string::npos) << run.out;
  run = Ws({"--json", "reg", "get", key, "absent"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("\"exit\":1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"ok\":false"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("status '2'"), std::string::npos) << run.out;
}

// The agents the upgrade program started are not the harness's children: they are stopped by
// the process ids in its log.
class StartedAgents {
 public:
  explicit StartedAgents(fs::path log) : log_(std::move(log)) {}
  ~StartedAgents() {
    const std::string text = ReadFile(log_);
    constexpr std::string_view kMark = ", process ";
    for (size_t at = text.find(kMark); at != std::string::npos; at = text.find(kMark, at + 1)) {
      const pid_t pid = std::atoi(text.c_str() + at + kMark.size());
      if (pid <= 0 || kill(pid, 0) != 0) continue;
      kill(pid, SIGTERM);
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      while (Running(pid) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (Running(pid)) kill(pid, SIGKILL);
    }
  }

 private:
  // Neither gone nor a zombie that its parent has not collected yet.
  static bool Running(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
           stat[close + 2] != 'X';
  }
  fs::path log_;
};

AgentOptions WithUpgradeProgram() {
  AgentOptions options;
  options.files = {{"UPGRADE.EXE", BuiltFile("UPGRADE.EXE")}};
  options.executables = {"UPGRADE.EXE"};
  return options;
}

TEST_F(PerimoWsAgentTest, UpgradeStagesTheFolderAndTheNewAgentAnswers) {
  Boot(WithUpgradeProgram());
  StartedAgents started(agent->Path("UPGRADE.LOG"));
  // The new agent: the same program with bytes appended (a loader ignores them).
  const std::string newAgent = BuiltFile("perimo") + "NEW-AGENT";
  WriteFile(local / "release" / "perimo", newAgent);
  WriteFile(local / "release" / "Lang" / "de" / "texts.txt", "Hallo");
  WsRun run = Ws({"upgrade", (local / "release").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("the upgraded agent answers"), std::string::npos) << run.out;
  EXPECT_NE(ReadFile(agent->Path("UPGRADE.LOG")).find("upgrade done: 2 file(s) replaced"),
            std::string::npos)
      << ReadFile(agent->Path("UPGRADE.LOG"));
  EXPECT_EQ(ReadFile(agent->Path("perimo")), newAgent);
  EXPECT_EQ(ReadFile(agent->Path("Lang/de/texts.txt")), "Hallo");
  EXPECT_TRUE(fs::is_empty(agent->Path("Upgrade")));
  run = Ws({"--json", "info"});
  EXPECT_EQ(run.code, 0) << run.err;
}

TEST_F(PerimoWsAgentTest, UpgradeRolledBackIsAFailure) {
  Boot(WithUpgradeProgram());
  StartedAgents started(agent->Path("UPGRADE.LOG"));
  WriteFile(local / "release" / "perimo", "#!/bin/sh\nexit 3\n");
  const WsRun run = Ws({"upgrade", (local / "release").string()});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.err.find("rolled back"), std::string::npos) << run.err;
  EXPECT_NE(WaitForLine(agent->Path("UPGRADE.LOG"), "rolled back; the old agent runs")
                .find("rolled back; the old agent runs"),
            std::string::npos);
  EXPECT_EQ(ReadFile(agent->Path("perimo")), BuiltFile("perimo"));
  // The old agent answers again.
  EXPECT_EQ(Ws({"info"}).code, 0);
}

}  // namespace
}  // namespace perimo::e2e
