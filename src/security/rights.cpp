#include "security/rights.h"

#include <string>

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace perimo {
namespace {

// The project directory is read into a buffer of MAX_PATH characters.
constexpr uint32_t kProjectDirBufferChars = 261;

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  if (prefix.size() > text.size()) return false;
  return platform::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

uint16_t RightForPath(const LoginState& login, std::u16string_view exeDir,
                      std::u16string_view path) {
  if (!login.securityEnabled) return 1;
  const Rights& rights = login.loggedInRights;
  const std::u16string agentDir(exeDir);

  std::u16string projectDir;
  platform::GetPrivateProfileString(u"Application", u"Directory", u"", projectDir,
                                    kProjectDirBufferChars, agentDir + u"\\CEApp.INI");
  // The directory itself is not inside the project: it must be shorter than the path.
  if (projectDir.size() < path.size() && StartsWithIgnoringCase(path, projectDir)) {
    return rights[kSendToTarget];
  }

  // The system folders sit beside the agent's folder; no separator follows their names, so
  // "Binaries" falls under them as well.
  const std::u16string bin = platform::ResolveTargetPath(u"Bin", agentDir);
  const std::u16string drv = platform::ResolveTargetPath(u"Drv", agentDir);
  if (StartsWithIgnoringCase(path, bin) || StartsWithIgnoringCase(path, drv)) {
    return rights[kInstallSystemFiles];
  }
  return rights[kSendFile];
}

uint16_t MayGetFromTarget(const LoginState& login) {
  return login.securityEnabled ? login.loggedInRights[kGetFromTarget] : 1;
}

uint16_t MayRunStop(const LoginState& login) {
  return login.securityEnabled ? login.loggedInRights[kRunStop] : 1;
}

}  // namespace perimo
