#include "security/rights.h"

#include <string>

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/agent_state.h"

namespace perimo {
namespace {

// The project directory is read into a buffer of MAX_PATH characters.
constexpr uint32_t kProjectDirBufferChars = 261;

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  if (prefix.size() > text.size()) return false;
  return platform::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

uint16_t RightForPath(const AgentState& agent, std::u16string_view path) {
  if (!agent.login.securityEnabled) return 1;
  const Rights& rights = agent.login.loggedInRights;

  std::u16string projectDir;
  platform::GetPrivateProfileString(u"Application", u"Directory", u"", projectDir,
                                    kProjectDirBufferChars, agent.paths.exeDir + u"\\CEApp.INI");
  // The directory itself is not inside the project: it must be shorter than the path.
  if (projectDir.size() < path.size() && StartsWithIgnoringCase(path, projectDir)) {
    return rights[kSendToTarget];
  }

  // The system folders sit beside the agent's folder; no separator follows their names, so
  // "Binaries" falls under them as well.
  const std::u16string bin = platform::ResolveTargetPath(u"Bin", agent.paths.exeDir);
  const std::u16string drv = platform::ResolveTargetPath(u"Drv", agent.paths.exeDir);
  if (StartsWithIgnoringCase(path, bin) || StartsWithIgnoringCase(path, drv)) {
    return rights[kInstallSystemFiles];
  }
  return rights[kSendFile];
}

uint16_t MayGetFromTarget(const AgentState& agent) {
  return agent.login.securityEnabled ? agent.login.loggedInRights[kGetFromTarget] : 1;
}

uint16_t MayRunStop(const AgentState& agent) {
  return agent.login.securityEnabled ? agent.login.loggedInRights[kRunStop] : 1;
}

}  // namespace perimo
