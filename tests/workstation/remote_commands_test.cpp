// Request layouts and reply parsing of the listing, registry, runtime and task commands
// against a scripted agent, in both string widths.
#include "workstation/remote_commands.h"

#include <gtest/gtest.h>

#include <map>

#include "workstation/fake_agent.h"

namespace perimo::workstation {
namespace {

using testing::FakeAgent;

Bytes Wide(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text) out.insert(out.end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
  out.insert(out.end(), {0, 0});
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Replies looked up by the frame's code; each code's replies are handed out in turn.
struct Script {
  std::map<uint8_t, std::vector<Bytes>> replies;
  std::vector<Bytes> operator()(const Bytes& frame) {
    auto& queue = replies[frame.at(0)];
    if (queue.empty()) return {};
    Bytes reply = queue.front();
    queue.erase(queue.begin());
    return {reply};
  }
};

std::unique_ptr<FakeAgent> Agent(Script script, bool wide, Session& session) {
  auto agent = std::make_unique<FakeAgent>(std::move(script), wide);
  ConnectOptions options;
  options.port = agent->port();
  options.timeoutMs = 3000;
  EXPECT_FALSE(session.Open(options));
  return agent;
}

TEST(RemoteCommandsTest, DirectoryListingsArePagedToTheEndInEitherWidth) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide" : "narrow");
    Script script;
    script.replies[0x16] = {{0x06, '3', 0}};
    if (wide) {
      script.replies[0x39] = {
          Cat({{0x06}, Wide(u"A\n1"), Wide(u"Bé\n0")}), Cat({{0x06}, Wide(u"C\n0")}), {0x06, 0x00}};
    } else {
      script.replies[0x39] = {{0x06, 'A', '\n', '1', 0, 'B', 0xE9, '\n', '0', 0},
                              {0x06, 'C', '\n', '0', 0},
                              {0x06, 0x00}};
    }
    Session session;
    auto agent = Agent(script, wide, session);
    std::vector<ListEntry> entries;
    ASSERT_FALSE(ListDirectories(session, "C:\\P", entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "A");
    EXPECT_TRUE(entries[0].hasSubdirectories);
    EXPECT_EQ(entries[1].name, "Bé");
    EXPECT_FALSE(entries[1].hasSubdirectories);
    EXPECT_EQ(entries[2].name, "C");
  }
}

TEST(RemoteCommandsTest, ProjectListingCarriesTimesAndItsFlagIsOneByte) {
  Script script;
  script.replies[0x19] = {{0x06, '2', 0}};
  const Bytes time{1, 2, 3, 4, 5, 6, 7, 8};
  // A page whose names all vanished is just 06; the listing goes on.
  script.replies[0x1A] = {Cat({{0x06}, Wide(u"Main.APP"), time, {0}}),
                          {0x06},
                          Cat({{0x06}, Wide(u"S\\x.scr"), time, {0}}),
                          {0x06, 0x00}};
  Session session;
  auto agent = Agent(script, true, session);
  std::vector<ListEntry> entries;
  ASSERT_FALSE(ListProjectFiles(session, "C:\\P", true, entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, "S\\x.scr");
  EXPECT_EQ(entries[1].fileTime, 0x0807060504030201ull);
  EXPECT_EQ(agent->Received().at(0), Cat({{0x19, '1'}, Wide(u"C:\\P")}));
}

TEST(RemoteCommandsTest, TruncatedPagesAndRefusedOpeningsAreFailures) {
  Script script;
  script.replies[0x19] = {{0x06, '1', 0}, {0x15, 0x10}};
  script.replies[0x1A] = {{0x06, 'a', 0, 1, 2}};
  Session session;
  auto agent = Agent(script, false, session);
  std::vector<ListEntry> entries;
  EXPECT_EQ(ListProjectFiles(session, "C:\\P", false, entries).outcome, Outcome::kConnection);
  const Error refused = ListProjectFiles(session, "\\Windows", false, entries);
  EXPECT_EQ(refused.outcome, Outcome::kFailed);
  EXPECT_NE(refused.message.find("NAK 0x10"), std::string::npos);
}

TEST(RemoteCommandsTest, RegistryFieldsAndStatusCharacters) {
  Script script;
  script.replies[0x2B] = {Cat({{0x06, '0'}, Wide(u"abc"), {0, 0}}), {0x06, '1'}, {0x06, '2'}};
  script.replies[0x2A] = {{0x06, '0'}};
  Session session;
  auto agent = Agent(script, true, session);
  std::string value;
  ASSERT_FALSE(ReadRegistry(session, "HKEY_LOCAL_MACHINE\\Software\\T", "", value));
  EXPECT_EQ(value, "abc");
  EXPECT_NE(ReadRegistry(session, "HKCU\\x", "v", value).message.find("unknown root"),
            std::string::npos);
  EXPECT_EQ(ReadRegistry(session, "HKEY_USERS\\x", "v", value).outcome, Outcome::kFailed);
  ASSERT_FALSE(WriteRegistry(session, "HKEY_CURRENT_USER/Software/T", "Name", "data"));
  // Root, sub-key, empty continuation, value name, data: TAB-separated, no terminator.
  Bytes expected{0x2A};
  for (char16_t c : std::u16string(u"HKEY_CURRENT_USER\tSoftware\\T\t\tName\tdata")) {
    expected.insert(expected.end(), {uint8_t(c), uint8_t(c >> 8)});
  }
  EXPECT_EQ(agent->Received().back(), expected);
}

TEST(RemoteCommandsTest, RuntimeAndTaskRequests) {
  Script script;
  script.replies[0x11] = {{0x06}, {0x15, 0x0E}};
  script.replies[0x32] = {{0x06, 2, 7, 9}};
  script.replies[0x31] = {{0x06, 1}};
  script.replies[0x09] = {{0x06}};
  script.replies[0x3C] = {{0x06, '0'}};
  Session session;
  auto agent = Agent(script, false, session);
  ASSERT_FALSE(PostRuntimeMessage(session, 1024, 5, -1));
  EXPECT_EQ(agent->Received().back(), (Bytes{0x11, '1', '0', '2', '4', 9, '5', 9, '-', '1'}));
  const Error notRunning = PostRuntimeMessage(session, 1, 2, 3);
  EXPECT_NE(notRunning.message.find("not running"), std::string::npos);
  std::vector<uint8_t> statuses;
  ASSERT_FALSE(QueryTasks(session, {"A", "B"}, statuses));
  EXPECT_EQ(agent->Received().back(), (Bytes{0x32, 'A', 9, 'B', 9}));
  EXPECT_EQ(statuses, (std::vector<uint8_t>{7, 9}));
  uint8_t status = 0;
  ASSERT_FALSE(StartTask(session, "Alarm", status));
  EXPECT_EQ(status, 1);
  ASSERT_FALSE(UpdateScreen(session, "Main"));
  EXPECT_EQ(agent->Received().back(), (Bytes{0x09, 'M', 'a', 'i', 'n', 0}));
  bool started = true;
  ASSERT_FALSE(Upgrade(session, started));
  EXPECT_FALSE(started);
}

TEST(RemoteCommandsTest, ScreenNamesTravelIn8BitsInAWideSession) {
  Script script;
  script.replies[0x09] = {{0x06}};
  Session session;
  auto agent = Agent(script, true, session);
  ASSERT_TRUE(session.wide());
  ASSERT_FALSE(UpdateScreen(session, "Gr\xC3\xBCn"));
  EXPECT_EQ(agent->Received().back(), (Bytes{0x09, 'G', 'r', 0xFC, 'n', 0}));
  // A name beyond Latin-1 is refused before anything is sent.
  EXPECT_EQ(UpdateScreen(session, "\xCE\xA9").outcome, Outcome::kUsage);
  EXPECT_EQ(agent->Received().size(), 1u);
}

}  // namespace
}  // namespace perimo::workstation
