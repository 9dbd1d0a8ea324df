#include "protocol/runtime_commands.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/shared_memory.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "platform/window_endpoint.h"
#include "protocol/agent_state.h"
#include "protocol/data_protection_commands.h"

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

TEST(ParseDecimal, ReadsLikeAtoi) {
  const std::pair<std::u16string_view, int32_t> cases[] = {
      {u"", 0},
      {u"1024", 1024},
      {u"  -1", -1},
      {u"\t+7x", 7},
      {u"12 34", 12},
      {u"x5", 0},
      {u"-", 0},
      {u"2147483647", INT32_MAX},
      {u"2147483648", INT32_MAX},
      {u"-2147483648", INT32_MIN},
      {u"-99999999999999", INT32_MIN},
      {u"\u0661", 0},  // only ASCII digits count
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ParseDecimal(text), value) << platform::ToUtf8(text);
  }
}

// The agent in C:\A\Bin of a temporary drive C, its windows in a folder of their own (so no
// runtime is found), security off unless a test turns it on.
class RuntimeCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/perimo-runtime-XXXXXX";
    root = mkdtemp(pattern);
    fs::create_directories(root / "A" / "Bin");
    fs::create_directories(root / "windows");
    setenv("PERIMO_WINDOWS_DIR", (root / "windows").c_str(), 1);
    platform::Drives().Set('C', root.string());
    agent.paths.exeDir = u"C:\\A\\Bin";
    agent.paths.settingsDir = u"C:\\Settings\\";
    agent.statusSink = [this](std::u16string_view text) {
      lines.push_back(platform::ToUtf8(text));
    };
    agent.pause = [this](uint32_t ms) { pauses.push_back(ms); };
  }

  void TearDown() override {
    unsetenv("PERIMO_WINDOWS_DIR");
    platform::Drives() = platform::DriveMap();
    fs::remove_all(root);
  }

  Bytes Run(void (*handler)(Request&), const Bytes& payload = {}) {
    Bytes frame{0x00};
    frame.insert(frame.end(), payload.begin(), payload.end());
    link.replies.clear();
    Request request{agent, frame.data() + 1, static_cast<int32_t>(frame.size()), &link, Record};
    handler(request);
    EXPECT_EQ(link.replies.size(), 1u);
    return link.replies.empty() ? Bytes{} : link.replies.front();
  }

  fs::path root;
  AgentState agent;
  FakeLink link;
  std::vector<std::string> lines;
  std::vector<uint32_t> pauses;
};

TEST_F(RuntimeCommandsTest, StartAndStopRefuseWithoutTheRunStopRightAndWithoutPause) {
  agent.login.securityEnabled = true;
  agent.login.loggedInRights = {1, 1, 1, 1, 0};
  EXPECT_EQ(Run(StartRuntimeCommand), (Bytes{0x15, 0x35}));
  EXPECT_EQ(Run(StopRuntime), (Bytes{0x15, 0x35}));
  EXPECT_EQ(lines, (std::vector<std::string>{"Cannot start Runtime project.",
                                             "Runtime was not started."}));
  EXPECT_TRUE(pauses.empty());
  // With the right, a missing start-up program is 15 0B.
  agent.login.loggedInRights[kRunStop] = 1;
  EXPECT_EQ(Run(StartRuntimeCommand), (Bytes{0x15, 0x0B}));
}

TEST_F(RuntimeCommandsTest, QueryCountsNamesEndedByTab) {
  EXPECT_EQ(Run(QueryTasks), (Bytes{0x06, 0x00}));
  EXPECT_EQ(Run(QueryTasks, {'A', '\t', 'B'}), (Bytes{0x06, 0x01, 0x00}));
  EXPECT_EQ(Run(QueryTasks, {'A', 0, 'C', '\t', '\t'}), (Bytes{0x06, 0x02, 0x00, 0x00}));
  // 300 names: the count byte wraps, at most 256 statuses follow.
  const Bytes many(300, '\t');
  const Bytes reply = Run(QueryTasks, many);
  ASSERT_EQ(reply.size(), 258u);
  EXPECT_EQ(reply[1], 300 % 256);
}

TEST_F(RuntimeCommandsTest, MainWindowTitleComesFromProgramSettingsElseViewerIni) {
  EXPECT_EQ(RuntimeMainWindowTitle(agent), u"Kalder v6.1");
  std::ofstream(root / "A" / "Bin" / "Viewer.ini") << "[OEM]\nProductName=View\n";
  EXPECT_EQ(RuntimeMainWindowTitle(agent), u"View v6.1");
  std::ofstream(root / "A" / "Bin" / "Program Settings.ini")
      << "[OEM]\nProductName=Plant\n[Install]\nVersion=7.2\n";
  EXPECT_EQ(RuntimeMainWindowTitle(agent), u"Plant v7.2");
}

// The runtime's viewer and main window in this process: records what arrives and answers a
// task message with 0x1200 plus the length of the name in the task channel.
class FakeWindows {
 public:
  FakeWindows() {
    viewer_.Open(platform::WindowKey::kClass, kViewerClass);
    main_.Open(platform::WindowKey::kTitle, u"Kalder v6.1");
    thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
  }

  std::vector<std::string> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  void Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
      pollfd fds[2] = {{viewer_.descriptor(), POLLIN, 0}, {main_.descriptor(), POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        (i == 0 ? viewer_ : main_).ServeOne([&](const platform::WindowMessage& m) -> int32_t {
          std::string line = (i == 0 ? "viewer " : "main ") + std::to_string(m.message) + " " +
                             std::to_string(m.wParam) + " " + std::to_string(m.lParam);
          int32_t result = 0;
          if (m.message == kMsgTask) {
            platform::SharedMemory channel;
            std::u16string name;
            if (channel.Open(kTaskChannelName, kTaskChannelBytes)) {
              name = static_cast<const char16_t*>(channel.data());
            }
            line += " " + platform::ToUtf8(name);
            result = static_cast<int32_t>(0x1200 + name.size());
          }
          std::lock_guard lock(mutex_);
          messages_.push_back(line);
          return result;
        });
      }
    }
  }

  platform::WindowEndpoint viewer_;
  platform::WindowEndpoint main_;
  std::mutex mutex_;
  std::vector<std::string> messages_;
  std::jthread thread_;
};

Bytes Wide(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text)
    out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  return out;
}

TEST_F(RuntimeCommandsTest, WideRequestsReachTheRuntime) {
  FakeWindows windows;
  agent.wideStrings = true;
  EXPECT_EQ(Run(PostRuntimeMessage, Wide(u"1024\t5\t-1\t99")), Bytes{0x06});
  // The screen name is 8-bit whatever the width.
  EXPECT_EQ(Run(UpdateScreen, {'T', 'a', 'n', 'k', 0, 'x'}), Bytes{0x06});
  EXPECT_EQ(Run(StartTaskManager, Wide(u"V\u00E4lve\u2192")), (Bytes{0x06, 6}));
  Bytes names = Wide(u"A\tBC\t");
  names.push_back('D');  // an odd last byte is not a character
  EXPECT_EQ(Run(QueryTasks, names), (Bytes{0x06, 2, 1, 2}));
  EXPECT_EQ(Run(StopTask, Wide(std::u16string(256, u'x'))), (Bytes{0x06, 0}));
  // Posts to the viewer and sends to the main window travel on different sockets.
  std::vector<std::string> messages;
  for (int i = 0; i < 500 && (messages = windows.Messages()).size() < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages,
            (std::vector<std::string>{"main 1037 0 0 V\xC3\xA4lve\xE2\x86\x92", "main 1037 1 0 A",
                                      "main 1037 1 0 BC", "viewer 1024 5 -1", "viewer 1363 2 0"}));
  EXPECT_EQ(lines, (std::vector<std::string>{"Post message (1024, 5, -1) to the Runtime.",
                                             "Screen Tank was updated."}));
}

uint32_t fakeTick = 0;
uint32_t FakeTick() {
  return fakeTick;
}

// A runtime that never closes: the close request is repeated once a second for ten seconds,
// also when the tick count wraps meanwhile, and the stop is acknowledged.
TEST_F(RuntimeCommandsTest, StopGivesUpAfterTenSecondsOfTicks) {
  FakeWindows windows;
  platform::SetTickSourceForTesting(FakeTick);
  agent.pause = [](uint32_t ms) { fakeTick += ms; };
  for (const uint32_t start : {1000u, 0xFFFFF000u}) {
    fakeTick = start;
    lines.clear();
    EXPECT_EQ(Run(StopRuntime), Bytes{0x06});
    EXPECT_EQ(lines, std::vector<std::string>{"Runtime was stopped."});
  }
  platform::SetTickSourceForTesting(nullptr);
  std::vector<std::string> messages;
  for (int i = 0; i < 500 && (messages = windows.Messages()).size() < 34; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // First run: 1 + 10 close requests; the second ends when the tick count wraps, after 5 more.
  const auto closes = std::count(messages.begin(), messages.end(), "main 1035 0 1");
  const auto notices = std::count(messages.begin(), messages.end(), "viewer 1424 0 0");
  EXPECT_EQ(closes, 11 + 6);
  EXPECT_EQ(notices, 11 + 6);
}

TEST_F(RuntimeCommandsTest, DataProtectionRepliesInWideStrings) {
  const char* bin = std::getenv("PERIMO_BIN_DIR");
  if (bin == nullptr) GTEST_SKIP() << "PERIMO_BIN_DIR not set";
  fs::create_directories(root / "A" / "Bin" / "Bin");
  fs::copy_file(fs::path(bin) / "perimo-test-dataprot.so",
                root / "A" / "Bin" / "Bin" / "KalderDataProtection.dll");
  setenv("PERIMO_TEST_DP", "", 1);
  agent.wideStrings = true;
  EXPECT_EQ(Run(GetProtectionDeviceId), [] {
    Bytes id = Wide(u"DEV-42-\u00E9");
    id.insert(id.begin(), 0x06);
    return id;
  }());
  Bytes result = Wide(u"Protected with secret");
  result.insert(result.begin(), 0x06);
  EXPECT_EQ(Run(SetProtectionPassword, {'s', 'e', 'c', 'r', 'e', 't'}), result);
}

}  // namespace
}  // namespace perimo
