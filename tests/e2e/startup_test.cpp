// Start-up as the operator sees it on a headless target: the security prompt takes its
// default answers, the active project is recorded, and the agent ends cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "e2e/agent_harness.h"

namespace perimo::e2e {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr char kPrompt[] = "You do not have security enabled.";
constexpr char kSuppress[] = "Do you want to suppress this message on the next startup?";

TEST(StartupE2e, SecurityPromptPrintsAndTakesTheDefaultAnswers) {
  AgentOptions options;
  options.ini["Option"]["DoNotAskSecurity"] = "0";
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  EXPECT_TRUE(agent.WaitForLine(kPrompt));
  EXPECT_TRUE(agent.WaitForLine(kSuppress));
  // "No" to suppressing: the setting stays as it was.
  EXPECT_NE(ReadFile(agent.Path("perimo.INI")).find("DoNotAskSecurity=0"), std::string::npos);
  EXPECT_EQ(agent.Stop(), 0);
}

TEST(StartupE2e, NoPromptWhileSecurityIsOn) {
  AgentOptions options;
  options.ini["Option"]["DoNotAskSecurity"] = "0";
  // Users file: version 1, security on, no users.
  options.files = {{"perimo.BIN", std::string("\x01\x00\x01\x00\x00\x00", 6)}};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  // The security state passes the closed gate; once it answers, start-up is over.
  EXPECT_TRUE(ws.Request(workstation::Frame(0x24)).has_value());
  EXPECT_FALSE(agent.WaitForLine(kPrompt, 300));
}

TEST(StartupE2e, AppNameRecordsTheActiveProject) {
  AgentOptions options;
  options.ini["Setup"]["AppName"] = "Plant";
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  const std::string text = ReadFile(agent.Path("CEApp.INI"));
  EXPECT_NE(text.find("[Application]"), std::string::npos);
  EXPECT_NE(text.find("Directory=C:\\Plant\\"), std::string::npos);
  EXPECT_NE(text.find("Configuration=C:\\Plant\\Plant.app"), std::string::npos);
}

}  // namespace
}  // namespace perimo::e2e
