// The registry and the small commands over the wire: values that outlive the agent (also a
// kill -9), roots kept apart, both string widths; free space, file size, windows of other
// programs, and the codes with fixed answers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "e2e/agent_harness.h"
#include "e2e/listing_client.h"
#include "platform/window_endpoint.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;

const Bytes kAckOnly{0x06};

// Fields joined by TAB, each 8-bit or 16-bit, no terminator (the frame ends the last).
Bytes FieldsFrame(uint8_t code, std::initializer_list<std::u16string_view> fields, bool wide) {
  Bytes frame{code};
  bool first = true;
  for (std::u16string_view field : fields) {
    if (!first) {
      frame.push_back(0x09);
      if (wide) frame.push_back(0x00);
    }
    first = false;
    for (char16_t c : field) {
      frame.push_back(static_cast<uint8_t>(c));
      if (wide) frame.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  return frame;
}

Bytes Status(char c) {
  return {0x06, static_cast<uint8_t>(c)};
}

Bytes ReadReply(std::u16string_view value, bool wide) {
  Bytes out{0x06, '0'};
  for (char16_t c : value) {
    out.push_back(static_cast<uint8_t>(c));
    if (wide) out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.insert(out.end(), wide ? 4 : 1, 0x00);
  return out;
}

class MiscCommands : public ::testing::Test {
 protected:
  void Boot() {
    agent = std::make_unique<AgentHarness>(options);
    ASSERT_TRUE(agent->Start()) << agent->error();
    ws = agent->Connect();
    ASSERT_TRUE(ws.connected());
  }

  void Reconnect() {
    ws = agent->Connect();
    ASSERT_TRUE(ws.connected());
  }

  AgentOptions options;
  std::unique_ptr<AgentHarness> agent;
  workstation::Workstation ws;
};

TEST_F(MiscCommands, RegistryRoundTripInBothWidthsWithRootsApart) {
  Boot();
  // The default value of a key, written with the root in any case.
  EXPECT_EQ(ws.Request(FieldsFrame(
                0x2A, {u"hkey_local_machine", u"Software\\Test", u"", u"", u"abc"}, false)),
            Status('0'));
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2B, {u"HKEY_LOCAL_MACHINE", u"software", u"TEST", u""}, false)),
      ReadReply(u"abc", false));
  // The same key under another root holds nothing.
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2B, {u"HKEY_CURRENT_USER", u"Software\\Test", u"", u""}, false)),
      Status('2'));
  EXPECT_EQ(ws.Request(FieldsFrame(0x2B, {u"HKCU", u"Software\\Test", u"", u""}, false)),
            Status('1'));
  EXPECT_EQ(ws.Request(FieldsFrame(0x2A, {u"HKLM", u"Software\\Test", u"", u"", u"x"}, false)),
            Status('1'));
  EXPECT_EQ(ws.Request(FieldsFrame(0x2B, {u"HKEY_USERS", u"No\\Such", u"", u"v"}, false)),
            Status('2'));
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2B, {u"HKEY_LOCAL_MACHINE", u"Software\\Test", u"", u"v"}, false)),
      Status('2'));

  ASSERT_EQ(ws.Request(Frame(0x20)), kAckOnly);
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2B, {u"HKEY_LOCAL_MACHINE", u"Software\\Test", u"", u""}, true)),
      ReadReply(u"abc", true));
  const std::u16string wideValue = u"\u20AC\u00E9 x";
  EXPECT_EQ(ws.Request(FieldsFrame(
                0x2A, {u"HKEY_CLASSES_ROOT", u".prj", u"Shell", u"Name", wideValue}, true)),
            Status('0'));
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2B, {u"HKEY_CLASSES_ROOT", u".PRJ\\shell", u"", u"NAME"}, true)),
      ReadReply(wideValue, true));
  // A long value comes back cut to 127 characters.
  const std::u16string longValue(300, u'L');
  EXPECT_EQ(ws.Request(FieldsFrame(0x2A, {u"HKEY_USERS", u"Long", u"", u"v", longValue}, true)),
            Status('0'));
  EXPECT_EQ(ws.Request(FieldsFrame(0x2B, {u"HKEY_USERS", u"Long", u"", u"v"}, true)),
            ReadReply(longValue.substr(0, 127), true));
}

TEST_F(MiscCommands, RegistryValuesSurviveARestartAndAKill) {
  Boot();
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2A, {u"HKEY_CURRENT_USER", u"Keep", u"", u"a", u"one"}, false)),
      Status('0'));
  ASSERT_EQ(agent->Stop(), 0);
  ASSERT_TRUE(agent->Start()) << agent->error();
  Reconnect();
  EXPECT_EQ(ws.Request(FieldsFrame(0x2B, {u"HKEY_CURRENT_USER", u"keep", u"", u"A"}, false)),
            ReadReply(u"one", false));
  EXPECT_EQ(
      ws.Request(FieldsFrame(0x2A, {u"HKEY_CURRENT_USER", u"Keep", u"", u"a", u"two"}, false)),
      Status('0'));
  // The reply came after the commit: the value is there after a kill at once.
  kill(agent->pid(), SIGKILL);
  agent->WaitForExit();
  ASSERT_TRUE(agent->Start()) << agent->error();
  Reconnect();
  EXPECT_EQ(ws.Request(FieldsFrame(0x2B, {u"HKEY_CURRENT_USER", u"Keep", u"", u"a"}, false)),
            ReadReply(u"two", false));
}

TEST_F(MiscCommands, FixedAnswersAndSilentCodes) {
  Boot();
  for (uint8_t code : {0x26, 0x27, 0x28, 0x30}) {
    ASSERT_TRUE(ws.SendFrame(Frame(code, {1, 2, 3})));
    EXPECT_TRUE(ws.Silent(150)) << int(code);
  }
  EXPECT_EQ(ws.Request(Frame(0x29, {9})), Status('1'));
  EXPECT_EQ(ws.Request(Frame(0x2F)), kAckOnly);
  EXPECT_FALSE(agent->HasLine("Invalid Frame"));
}

TEST_F(MiscCommands, DiskSpaceAndFileSize) {
  options.files = {{"Data/five.bin", "12345"}};
  Boot();
  const auto space = ws.Request(Frame(0x21));
  ASSERT_TRUE(space);
  ASSERT_EQ(space->size(), 17u);
  EXPECT_EQ((*space)[0], 0x06);
  EXPECT_TRUE(std::equal(space->begin() + 1, space->begin() + 9, space->begin() + 9));
  uint64_t free = 0;
  for (int i = 8; i >= 1; --i) free = (free << 8) | (*space)[i];
  struct statvfs vfs;
  ASSERT_EQ(statvfs(agent->folder().c_str(), &vfs), 0);
  EXPECT_GT(free, 0u);
  EXPECT_NE(free, UINT64_MAX);

  for (bool wide : {false, true}) {
    if (wide) {
      ASSERT_EQ(ws.Request(Frame(0x20)), kAckOnly);
    }
    EXPECT_EQ(ws.Request(NameFrame(0x22, u"C:\\data\\FIVE.bin", wide)), (Bytes{0x06, 5, 0, 0, 0}));
    EXPECT_EQ(ws.Request(NameFrame(0x22, u"C:\\Data", wide)), (Bytes{0x15, 0x01}));
    EXPECT_EQ(ws.Request(NameFrame(0x22, u"C:\\Data\\none", wide)), (Bytes{0x15, 0x01}));
    EXPECT_EQ(ws.Request(NameFrame(0x22, u"", wide)), (Bytes{0x15, 0x01}));
  }
  EXPECT_TRUE(agent->HasLine("Invalid file name."));
}

TEST_F(MiscCommands, ViewerWindowAndCloseByTitle) {
  options.files = {
      {"Program Settings.ini", "[OEM]\nProductName=Vextra\n[Install]\nVersion=7.12\n"}};
  Boot();
  EXPECT_EQ(ws.Request(Frame(0x1F)), (Bytes{0x06, 0x00}));
  setenv("PERIMO_WINDOWS_DIR", agent->windowsFolder().c_str(), 1);
  platform::WindowEndpoint viewer, target;
  ASSERT_TRUE(viewer.Open(platform::WindowKey::kClass, u"Vextra v7.12"));
  ASSERT_TRUE(target.Open(platform::WindowKey::kTitle, u"Line Monitor"));
  // The agent's probe is a connection the endpoint never has to serve.
  EXPECT_EQ(ws.Request(Frame(0x1F)), (Bytes{0x06, 0x01}));

  EXPECT_EQ(ws.Request(workstation::TextFrame(0x23, "Line Monitor")), kAckOnly);
  platform::WindowMessage received;
  bool served = false;
  for (int i = 0; i < 200 && !served; ++i) {
    served = target.ServeOne([&](const platform::WindowMessage& m) {
      received = m;
      return 0;
    });
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(served);
  EXPECT_EQ(received.operation, platform::kWindowPost);
  EXPECT_EQ(received.message, platform::kWmClose);
  EXPECT_EQ(received.wParam, 0u);
  EXPECT_EQ(received.lParam, 0);
  EXPECT_TRUE(agent->HasLine("'Line Monitor' was stopped!"));
  // No window of that title: the same answer.
  EXPECT_EQ(ws.Request(workstation::TextFrame(0x23, "Nobody")), kAckOnly);
  EXPECT_TRUE(agent->WaitForLine("'Nobody' was stopped!"));
  unsetenv("PERIMO_WINDOWS_DIR");
}

}  // namespace
}  // namespace perimo::e2e
