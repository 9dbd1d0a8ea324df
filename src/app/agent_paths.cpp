#include "app/agent_paths.h"

#include "platform/file_system.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace perimo {
using platform::WireFolder;

namespace {

// The native file a settings path names, found ignoring case like every wire path.
std::string NativeFile(const std::u16string& wirePath) {
  return platform::ToNativePath(wirePath).value_or(std::string());
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

  // The drive map comes from the settings file beside the executable; until it is read,
  // C is the root and every native path has a wire form.
  platform::Drives().Clear();
  const std::string exeIni = NativeFile(WireFolder(exeFolder) + u"\\" + base + u".INI");
  if (!exeIni.empty()) platform::Drives().LoadFromSettings(exeIni);

  AgentPaths paths;
  paths.exeDir = WireFolder(exeFolder);
  paths.exeBaseName = base;
  const std::u16string localBase = paths.exeDir + u"\\" + base;
  paths.agentIniPath = localBase + u".INI";
  paths.usersFilePath = localBase + u".BIN";
  paths.outFilePath = localBase + u".OUT";

  if (platform::GetPrivateProfileInt(u"OEM", u"UseUserFolder", 1, paths.agentIniPath) != 0) {
    const std::u16string userBase = GetSuiteFolder(sources, kSuiteSettingsFolder) + base;
    if (platform::GetPrivateProfileInt(u"OEM", u"UseUserFolder", 1, userBase + u".INI") != 0) {
      paths.agentIniPath = userBase + u".INI";
      paths.usersFilePath = userBase + u".BIN";
      paths.outFilePath = userBase + u".Out";
    }
  }
  paths.settingsDir = GetSuiteFolder(sources, kSuiteSettingsFolder);
  paths.projectsDir = GetSuiteFolder(sources, kSuiteProjectsFolder);
  return paths;
}

}  // namespace perimo
