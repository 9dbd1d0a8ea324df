// A power cut at any moment of a write: while a workstation writes, the agent is killed with
// SIGKILL after a random delay; the file is then the complete old or the complete new
// content, never a mix or a cut, and an agent started again serves it. PERIMO_CRASH_ROUNDS
// sets the kills per write path (a few by default; `make test-long` runs 200).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "workstation/workstation.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;
using Clock = std::chrono::steady_clock;

int Rounds() {
  const char* rounds = std::getenv("PERIMO_CRASH_ROUNDS");
  return rounds ? std::max(1, std::atoi(rounds)) : 4;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string Content(size_t size, unsigned seed) {
  std::string content(size, 0);
  std::mt19937 rng(seed);
  for (char& c : content) c = static_cast<char>(rng());
  return content;
}

bool Framed(workstation::Workstation& ws) {
  if (!ws.connected() || !ws.Request(Frame(0x13))) return false;
  ws.SetFramed(true);
  return true;
}

// The extended procedure with sequence numbers; false as soon as a reply is missing.
bool DownloadEx(workstation::Workstation& ws, const std::string& name, const std::string& content) {
  Bytes open{0x2D};
  workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
  open.insert(open.end(), name.begin(), name.end());
  open.insert(open.end(), {'\t', '0'});
  if (ws.Request(open) != Bytes{0x06}) return false;
  uint32_t sequence = 1;
  int buffered = 0;
  for (size_t at = 0; at < content.size(); at += 16384) {
    const size_t n = std::min<size_t>(16384, content.size() - at);
    Bytes block{0x2E};
    workstation::AppendU32(block, sequence++);
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), content.begin() + at, content.begin() + at + n);
    if (!ws.SendFrame(block)) return false;
    if (++buffered == 16 || at + n == content.size()) {
      Bytes flush{0x2C};
      workstation::AppendU32(flush, sequence++);
      if (ws.Request(flush) != Bytes{0x06}) return false;
      buffered = 0;
    }
  }
  Bytes close{0x03};
  workstation::AppendU32(close, sequence);
  close.resize(close.size() + 24, 0);
  workstation::AppendU32(close, 0x20);
  return ws.Request(close) == Bytes{0x06};
}

// What the agent sends back for the file: its upload, whole.
std::optional<std::string> Upload(workstation::Workstation& ws, const std::string& name) {
  Bytes open{0x04};
  open.insert(open.end(), name.begin(), name.end());
  const auto opened = ws.Request(open);
  if (!opened || opened->empty() || (*opened)[0] != 0x06) return std::nullopt;
  std::string content;
  for (;;) {
    const auto reply = ws.Request(Frame(0x05));
    if (!reply || reply->size() < 5 || (*reply)[0] != 0x06) return std::nullopt;
    const uint32_t count = workstation::ReadU32(*reply, 1);
    if (count == 0) break;
    content.append(reply->begin() + 5, reply->end());
  }
  ws.Request(Frame(0x06));
  return content;
}

struct WritePath {
  const char* what;
  std::string wireName;  // as the workstation names the file
  std::string file;      // relative to drive C
  std::string oldContent;
  std::function<bool(workstation::Workstation&)> write;
};

void KillDuringWrites(const WritePath& path) {
  AgentOptions options;
  options.env.emplace_back("LC_ALL", "C");
  options.files.emplace_back(path.file, path.oldContent);
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();

  // One write without a kill: how long it takes and what the new file is.
  auto started = Clock::now();
  {
    auto ws = agent.Connect();
    ASSERT_TRUE(Framed(ws));
    ASSERT_TRUE(path.write(ws));
  }
  const auto duration = Clock::now() - started;
  const std::string newContent = ReadFile(agent.Path(path.file));
  ASSERT_NE(newContent, path.oldContent);

  std::mt19937 rng(12345);
  for (int round = 0; round < Rounds(); ++round) {
    SCOPED_TRACE(std::string(path.what) + ", round " + std::to_string(round));
    agent.Kill();
    WriteFile(agent.Path(path.file), path.oldContent);
    ASSERT_TRUE(agent.Restart()) << agent.error();
    auto ws = agent.Connect();
    ASSERT_TRUE(Framed(ws));
    const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(duration * 1.2) *
                       std::uniform_real_distribution<double>(0, 1)(rng);
    const pid_t pid = agent.pid();
    std::jthread killer([pid, delay] {
      std::this_thread::sleep_for(delay);
      kill(pid, SIGKILL);
    });
    path.write(ws);
    killer.join();
    agent.Kill();

    const std::string after = ReadFile(agent.Path(path.file));
    ASSERT_TRUE(after == path.oldContent || after == newContent)
        << "a torn file of " << after.size() << " bytes";
    ASSERT_TRUE(agent.Restart()) << agent.error();
    auto reader = agent.Connect();
    ASSERT_TRUE(Framed(reader));
    EXPECT_EQ(Upload(reader, path.wireName), after);
  }
}

TEST(CrashSafety, AnExtendedDownloadIsWholeOldOrWholeNew) {
  const std::string fresh = Content(1 << 20, 2);
  KillDuringWrites({"extended download", "C:\\Data\\project.app", "Data/project.app",
                    Content(300000, 1), [&](workstation::Workstation& ws) {
                      return DownloadEx(ws, "C:\\Data\\project.app", fresh);
                    }});
}

TEST(CrashSafety, ASettingsWriteIsWholeOldOrWholeNew) {
  std::string settings = "[Setup]\r\nValue=old\r\n";
  for (int i = 0; i < 2000; ++i) settings += "Key" + std::to_string(i) + "=filler text\r\n";
  KillDuringWrites({"settings write", "C:\\Data\\site.ini", "Data/site.ini", settings,
                    [](workstation::Workstation& ws) {
                      const std::string fields = "C:\\Data\\site.ini\tSetup\tValue\tnew";
                      Bytes frame{0x0C};
                      frame.insert(frame.end(), fields.begin(), fields.end());
                      return ws.Request(frame) == Bytes{0x06};
                    }});
}

}  // namespace
}  // namespace perimo::e2e
