// What a person at a headless target's terminal sees at start-up, and a language pack in a
// culture folder changing those texts.
#include <gtest/gtest.h>

#include "e2e/agent_harness.h"
#include "formats/pe_resources.h"

namespace perimo::e2e {
namespace {

TEST(HeadlessTextsE2e, ConnectionLinesAndTheAnswersTakenArePrinted) {
  AgentOptions options;
  options.ini["Option"]["DoNotAskSecurity"] = "0";
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  EXPECT_TRUE(agent.WaitForLine("Device connection via Network (TCP/IP)"));
  EXPECT_TRUE(agent.WaitForLine("IP(s): "));
  EXPECT_TRUE(agent.WaitForLine("(No window to answer in: answered No.)"));
  EXPECT_EQ(agent.Stop(), 0);
}

TEST(LanguagePackE2e, PackOfTheLanguageFolderReplacesTheTexts) {
  ResourceSet pack;
  pack.language = 0x0407;
  pack.strings[128] = u"Ger\u00e4teverbindung \u00fcber Netzwerk (TCP/IP)";
  const std::vector<uint8_t> bytes = WriteResourcePe(pack);
  AgentOptions options;
  options.env = {{"LANG", "de_DE.UTF-8"}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}};
  // de-DE falls back to the "de" folder; the file name is found ignoring case.
  options.files = {{"de/Perimo-EXE-mui.dll", std::string(bytes.begin(), bytes.end())}};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  EXPECT_TRUE(
      agent.WaitForLine("Ger\xc3\xa4teverbindung \xc3\xbc"
                        "ber Netzwerk (TCP/IP)"));
  EXPECT_EQ(agent.Stop(), 0);
}

}  // namespace
}  // namespace perimo::e2e
