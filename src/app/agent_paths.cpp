#include "app/agent_paths.h"

#include "platform/file_system.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace perimo {
using platform::WireFolder;

namespace {

// The native file a path of the agent's own names, found ignoring case like every wire path.
std::string NativeFile(const std::u16string& wirePath) {
  return platform::ToNativePath(wirePath, platform::PathScope::kAgent).value_or(std::string());
}

}  // namespace

std::string ExeBaseName(std::string_view fileName) {
  if (fileName.empty()) return "Perimo";
  const size_t dot = fileName.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && fileName.size() - dot == 4) {
    return std::string(fileName.substr(0, dot));
  }
  return std::string(fileName);
}

AgentPaths ComputeAgentPaths(const std::string& exePath, const SuiteFolderSources& sources) {
  const size_t slash = exePath.rfind('/');
  const std::string exeFolder = slash == std::string::npos ? "." : exePath.substr(0, slash);
  const std::string fileName = slash == std::string::npos ? exePath : exePath.substr(slash + 1);
  const std::u16string base = platform::FromUtf8(ExeBaseName(fileName));

  // Which settings file is the agent's is decided with C as the root, where every native path
  // has a wire form; the drive map then comes from that file, wherever it is.
  platform::Drives().Clear();
  platform::SetAgentFolders({});
  const std::u16string exeDirAtRoot = WireFolder(exeFolder);
  bool inUserFolder = false;
  if (platform::GetPrivateProfileInt(u"OEM", u"UseUserFolder", 1,
                                     exeDirAtRoot + u"\\" + base + u".INI") != 0) {
    const std::u16string userIni = GetSuiteFolder(sources, kSuiteSettingsFolder) + base + u".INI";
    inUserFolder = platform::GetPrivateProfileInt(u"OEM", u"UseUserFolder", 1, userIni) != 0;
  }
  std::string settingsFolder = NativeFile(GetSuiteFolder(sources, kSuiteSettingsFolder));
  const std::string agentIni =
      inUserFolder ? NativeFile(GetSuiteFolder(sources, kSuiteSettingsFolder) + base + u".INI")
                   : NativeFile(exeDirAtRoot + u"\\" + base + u".INI");
  if (!agentIni.empty()) platform::Drives().LoadFromSettings(agentIni);
  // Requests may reach these two folders even when no drive contains them.
  platform::SetAgentFolders({exeFolder, settingsFolder});

  AgentPaths paths;
  paths.exeDir = WireFolder(exeFolder);
  paths.exeBaseName = base;
  const std::u16string localBase = paths.exeDir + u"\\" + base;
  paths.agentIniPath = localBase + u".INI";
  paths.usersFilePath = localBase + u".BIN";
  paths.outFilePath = localBase + u".OUT";

  if (inUserFolder) {
    const std::u16string userBase = GetSuiteFolder(sources, kSuiteSettingsFolder) + base;
    paths.agentIniPath = userBase + u".INI";
    paths.usersFilePath = userBase + u".BIN";
    paths.outFilePath = userBase + u".Out";
  }
  paths.settingsDir = GetSuiteFolder(sources, kSuiteSettingsFolder);
  paths.projectsDir = GetSuiteFolder(sources, kSuiteProjectsFolder);
  return paths;
}

}  // namespace perimo
