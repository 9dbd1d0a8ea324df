// Runtime control against the fake runtime: starting through "RunStartUp.EXE", stopping,
// screens and posted messages, task commands through the task channel, component
// registration and file digests.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "e2e/fake_runtime.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;
using workstation::TextFrame;
using workstation::WideTextFrame;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content, bool executable = false) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  if (executable) fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

// Waits for a file that a started program writes.
std::string WaitForFile(const fs::path& path, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the writer finish its line
  return ReadFile(path);
}

Bytes Payload(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes WideUnits(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text)
    out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  return out;
}

// A program that records its arguments ("count:args") in the file named.
std::string RecordingScript(const std::string& file) {
  return "#!/bin/sh\necho \"$#:$*\" > \"$(dirname \"$0\")/" + file + "\"\n";
}

TEST(RuntimeControlE2e, StartRunsStartUpProgramWithTheConfiguredProject) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  // No start-up program yet: the process cannot be created.
  EXPECT_EQ(ws.Request(Frame(0x07)), (Bytes{0x15, 0x0B}));
  EXPECT_TRUE(agent.WaitForLine("Cannot start Runtime project."));

  WriteFile(agent.Path("RunStartUp.EXE"), RecordingScript("started"), true);
  EXPECT_EQ(ws.Request(Frame(0x07)), Bytes{0x06});
  EXPECT_EQ(WaitForFile(agent.Path("started")), "0:\n");
  EXPECT_TRUE(agent.WaitForLine("Runtime was started. ()"));

  fs::remove(agent.Path("started"));
  WriteFile(agent.runtimeFolder().parent_path() / "data" / "Program Settings.INI",
            "[Application]\nConfiguration=C:\\Proj\\Main Plant.APP\n");
  EXPECT_EQ(ws.Request(Frame(0x07)), Bytes{0x06});
  EXPECT_EQ(WaitForFile(agent.Path("started")), "1:C:\\Proj\\Main Plant.APP\n");
  EXPECT_TRUE(agent.WaitForLine("Runtime was started. (C:\\Proj\\Main Plant.APP)"));
}

TEST(RuntimeControlE2e, StopWithoutRuntimeIsAcknowledged) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  EXPECT_EQ(ws.Request(Frame(0x08)), Bytes{0x06});
  EXPECT_TRUE(agent.WaitForLine("Runtime was not started."));
}

TEST(RuntimeControlE2e, StopClosesTheRuntimeAndTellsTheViewerFirst) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  FakeRuntime runtime(agent);
  ASSERT_TRUE(runtime.Start());
  auto ws = agent.Connect();
  EXPECT_EQ(ws.Request(Frame(0x08), 15000), Bytes{0x06});
  EXPECT_TRUE(runtime.WaitForExit(5000));
  const auto messages = runtime.Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], "viewer post 1424 0 0");
  EXPECT_EQ(messages[1], "main post 1035 0 1");
  EXPECT_TRUE(agent.WaitForLine("Runtime was stopped."));
}

TEST(RuntimeControlE2e, ScreensAndPostedMessagesReachTheViewerInBothWidths) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  // Without a viewer: 0x09 is acknowledged quietly, 0x11 refused.
  EXPECT_EQ(ws.Request(TextFrame(0x09, "Nobody")), Bytes{0x06});
  EXPECT_EQ(ws.Request(Frame(0x11, Payload("1\t2\t3"))), (Bytes{0x15, 0x0E}));
  EXPECT_FALSE(agent.HasLine("Screen Nobody"));

  FakeRuntime runtime(agent, {"--viewer-class", "WCE_VextraViewerClass"});
  ASSERT_TRUE(runtime.Start());
  EXPECT_EQ(ws.Request(TextFrame(0x09, "Boiler")), Bytes{0x06});
  EXPECT_TRUE(runtime.WaitForMessage("viewer post 1363 2 0"));
  EXPECT_TRUE(agent.WaitForLine("Screen Boiler was updated."));
  EXPECT_EQ(ws.Request(Frame(0x11, Payload("1024\t5\t-1"))), Bytes{0x06});
  EXPECT_TRUE(runtime.WaitForMessage("viewer post 1024 5 -1"));
  EXPECT_TRUE(agent.WaitForLine("Post message (1024, 5, -1) to the Runtime."));
}

TEST(RuntimeControlE2e, PostedMessagesInWideStrings) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  FakeRuntime runtime(agent);
  ASSERT_TRUE(runtime.Start());
  auto ws = agent.Connect();
  if (!UseWideStrings(ws)) GTEST_SKIP() << "this agent has no 16-bit strings";
  EXPECT_EQ(ws.Request(Frame(0x11, WideUnits(u" 4000000000\t+7\t12x"))), Bytes{0x06});
  // Each field is a signed 32-bit number: the first saturates, then counts as unsigned.
  EXPECT_TRUE(runtime.WaitForMessage("viewer post 2147483647 7 12"));
  // The screen name stays 8-bit in wide mode.
  EXPECT_EQ(ws.Request(TextFrame(0x09, "Tank")), Bytes{0x06});
  EXPECT_TRUE(agent.WaitForLine("Screen Tank was updated."));
}

TEST(RuntimeControlE2e, TaskCommandsPassNamesThroughTheTaskChannel) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  FakeRuntime runtime(agent, {"--no-viewer"});
  ASSERT_TRUE(runtime.Start());
  auto ws = agent.Connect();
  // The fake answers 0x1200 + the name's length: the low byte comes back.
  EXPECT_EQ(ws.Request(TextFrame(0x31, "Pump")), (Bytes{0x06, 4}));
  EXPECT_TRUE(runtime.WaitForMessage("task 0 Pump"));
  EXPECT_EQ(ws.Request(TextFrame(0x33, "Pump")), (Bytes{0x06, 4}));
  EXPECT_TRUE(runtime.WaitForMessage("task 2 Pump"));
  // Names end at TABs; what follows the last one is no name.
  EXPECT_EQ(ws.Request(Frame(0x32, Payload("A\tBB\tCCC"))), (Bytes{0x06, 2, 1, 2}));
  EXPECT_TRUE(runtime.WaitForMessage("task 1 BB"));
  EXPECT_EQ(ws.Request(Frame(0x32)), (Bytes{0x06, 0}));

  // 255 characters fit the channel; a longer name is not cut to another task's name.
  const std::string longest(255, 'L');
  EXPECT_EQ(ws.Request(TextFrame(0x31, longest)), (Bytes{0x06, 255}));
  EXPECT_TRUE(runtime.WaitForMessage("task 0 " + longest));
  EXPECT_EQ(ws.Request(TextFrame(0x31, longest + "X")), (Bytes{0x06, 0}));

  // 8-bit names widen each byte; wide names keep every unit.
  EXPECT_EQ(ws.Request(TextFrame(0x31, "P\xFCmpe")), (Bytes{0x06, 5}));
  EXPECT_TRUE(runtime.WaitForMessage("task 0 P\xC3\xBCmpe"));
}

TEST(RuntimeControlE2e, TaskNamesInWideStrings) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  FakeRuntime runtime(agent, {"--no-viewer"});
  ASSERT_TRUE(runtime.Start());
  auto ws = agent.Connect();
  if (!UseWideStrings(ws)) GTEST_SKIP() << "this agent has no 16-bit strings";
  EXPECT_EQ(ws.Request(WideTextFrame(0x33, u"Ventil-\u03A9\u2192")), (Bytes{0x06, 9}));
  EXPECT_TRUE(runtime.WaitForMessage("task 2 Ventil-\xCE\xA9\xE2\x86\x92"));
  Bytes query = WideUnits(u"X\tY\t");
  query.push_back('Z');  // an odd last byte is not a character
  EXPECT_EQ(ws.Request(Frame(0x32, query)), (Bytes{0x06, 2, 1, 1}));
}

TEST(RuntimeControlE2e, WithoutRuntimeTheTaskManagerIsStarted) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  EXPECT_EQ(ws.Request(TextFrame(0x31, "Pump")), (Bytes{0x06, 0}));  // no manager program
  WriteFile(agent.Path("Kalder Manager.EXE"), RecordingScript("manager"), true);
  EXPECT_EQ(ws.Request(TextFrame(0x31, "Pump Two")), (Bytes{0x06, 1}));
  EXPECT_EQ(WaitForFile(agent.Path("manager")), "1:C:\\Pump Two.DLL\n");
  EXPECT_EQ(ws.Request(TextFrame(0x33, "Pump")), (Bytes{0x06, 0}));
  EXPECT_TRUE(agent.WaitForLine("Runtime was not started."));
  EXPECT_EQ(ws.Request(Frame(0x32, Payload("A\tB\t"))), (Bytes{0x06, 2, 0, 0}));
}

TEST(RuntimeControlE2e, RegisterComponents) {
  AgentOptions options;
  options.ini["Setup"]["RegisterWait"] = "1";
  options.files = {
      {"Comp.dll", BuiltFile("perimo-test-component.so")},
      {"Bad.OCX", BuiltFile("perimo-test-component-fails.so")},
      {"readme.txt", "text"},
      {"Srv/QUASERVER.EXE", ""},
      {"Hang/QUASERVER.EXE", "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/pid\"\nexec sleep 60\n"},
      {"Quick/Quaserver.exe", RecordingScript("registered")}};
  options.executables = {"Hang/QUASERVER.EXE", "Quick/Quaserver.exe"};
  options.env = {{"PERIMO_REGISTER_LOG", "register.log"}};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();

  EXPECT_EQ(ws.Request(Frame(0x34)), (Bytes{0x15, 0x01}));
  EXPECT_TRUE(agent.WaitForLine("Invalid file name."));
  EXPECT_EQ(ws.Request(TextFrame(0x34, "C:\\Missing.dll")), (Bytes{0x15, 0x01}));
  EXPECT_TRUE(agent.WaitForLine("Cannot find file C:\\Missing.dll."));
  EXPECT_EQ(ws.Request(TextFrame(0x34, "C:\\readme.txt")), (Bytes{0x06, '0'}));

  EXPECT_EQ(ws.Request(TextFrame(0x34, "C:\\Comp.dll\tignored")), (Bytes{0x06, '1'}));
  EXPECT_TRUE(agent.WaitForLine("Registered file C:\\Comp.dll"));
  EXPECT_EQ(ws.Request(TextFrame(0x34, "C:\\Bad.OCX")), (Bytes{0x06, '0'}));
  EXPECT_EQ(ReadFile(agent.Path("register.log")), "registered\nregistered\n");

  EXPECT_EQ(ws.Request(TextFrame(0x34, "c:\\quick\\quaserver.exe")), (Bytes{0x06, '1'}));
  EXPECT_EQ(WaitForFile(agent.Path("Quick/registered")), "1:/RegServer\n");

  // A registration program that never ends: the agent gives up after the configured wait and
  // answers as for a started program.
  EXPECT_EQ(ws.Request(TextFrame(0x34, "C:\\Hang\\QUASERVER.EXE"), 10000), (Bytes{0x06, '1'}));
  EXPECT_TRUE(agent.WaitForLine("has not ended after 1 seconds"));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{0x06});
  const int hung = std::atoi(WaitForFile(agent.Path("Hang/pid")).c_str());
  if (hung > 0) kill(hung, SIGKILL);
  // A file that is not a program leaves the status as it was.
  EXPECT_EQ(ws.Request(TextFrame(0x34, "C:\\Srv\\QUASERVER.EXE")), (Bytes{0x06, '0'}));
}

TEST(RuntimeControlE2e, FileDigestIsTheSha1OfTheContent) {
  AgentOptions options;
  options.files = {{"abc.txt", "abc"}, {"empty.bin", ""}, {"Sub/big.bin", std::string(20000, 'a')}};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  const Bytes abc = {0x06, 0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                     0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
  const Bytes empty = {0x06, 0xda, 0x39, 0xa3, 0xee, 0x5e, 0x6b, 0x4b, 0x0d, 0x32, 0x55,
                       0xbf, 0xef, 0x95, 0x60, 0x18, 0x90, 0xaf, 0xd8, 0x07, 0x09};
  EXPECT_EQ(ws.Request(TextFrame(0x35, "C:\\abc.txt")), abc);
  EXPECT_EQ(ws.Request(TextFrame(0x35, "empty.bin")), empty);  // relative to the current folder
  const auto big = ws.Request(TextFrame(0x35, "C:\\sub\\BIG.bin"));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size(), 21u);
  EXPECT_EQ(ws.Request(TextFrame(0x35, "C:\\nothing")), (Bytes{0x15, 0x01}));
  EXPECT_TRUE(agent.WaitForLine("Cannot find file C:\\nothing."));
  EXPECT_EQ(ws.Request(Frame(0x35, {'\t', 'x'})), (Bytes{0x15, 0x01}));
  EXPECT_TRUE(agent.WaitForLine("Invalid file name."));
  if (!UseWideStrings(ws)) GTEST_SKIP() << "this agent has no 16-bit strings";
  EXPECT_EQ(ws.Request(WideTextFrame(0x35, u"C:\\abc.txt")), abc);
}

TEST(RuntimeControlE2e, UpgradeWithoutProgramKeepsTheAgent) {
  AgentHarness agent;
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  EXPECT_EQ(ws.Request(Frame(0x3C)), (Bytes{0x06, '0'}));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{0x06});
  EXPECT_TRUE(agent.Running());
}

TEST(RuntimeControlE2e, UpgradeStartsTheProgramAndCloses) {
  AgentOptions options;
  options.files = {{"UPGRADE.EXE", "#!/bin/sh\necho \"$#:$*\" > \"$(dirname \"$0\")/upgrade\"\n"}};
  options.executables = {"UPGRADE.EXE"};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  const pid_t pid = agent.pid();
  EXPECT_EQ(ws.Request(Frame(0x3C)), (Bytes{0x06, '1'}));
  EXPECT_EQ(agent.WaitForExit(5000), 0);
  EXPECT_EQ(WaitForFile(agent.Path("upgrade")), "4:/PID " + std::to_string(pid) + " /Perimo C:\n");
}

}  // namespace
}  // namespace perimo::e2e
