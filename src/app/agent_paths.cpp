#include "app/agent_paths.h"

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace perimo {
namespace {

// A folder in wire form without its trailing backslash ("C:\" becomes "C:").
std::u16string WireFolder(const std::string& nativeFolder) {
  std::u16string wire = platform::ToWirePath(nativeFolder);
  while (!wire.empty() && wire.back() == u'\\') wire.pop_back();
  return wire;
}

// The native file a settings path names, found ignoring case like every wire path.
std::string NativeFile(const std::u16string& wirePath) {
  return platform::ToNativePath(wirePath).value_or(std::string());
}

std::u16string ProductSubFolder(const std::u16string& exeDir, int kind) {
  const std::u16string suiteSettings = exeDir + u"\\Program Settings.ini";
  if (!platform::IsFile(suiteSettings)) return {};
  std::u16string company;
  platform::GetPrivateProfileString(u"OEM", u"CompanyID", u"0", company, 128, suiteSettings);
  const int companyId = std::atoi(platform::ToLatin1(company).c_str());
  // Company 40 names its folders without the version.
  std::u16string name = ReadProductTitle(suiteSettings, companyId != 40);
  if (kind == kSuiteProjectsFolder) name += u" Projects";
  return name + u"\\";
}

}  // namespace

SuiteFolderSources SuiteFolderSources::FromSystem() {
  return {platform::ExecutableFolder(), platform::UserSettingsFolder(),
          platform::DocumentsFolder()};
}

std::u16string GetSuiteFolder(const SuiteFolderSources& sources, int kind) {
  if (sources.exeFolder.empty()) return {};
  const std::u16string exeDir = WireFolder(sources.exeFolder);
  const std::u16string exeFolder = exeDir + u"\\";
  const std::string* known = kind == kSuiteSettingsFolder   ? &sources.localAppData
                             : kind == kSuiteProjectsFolder ? &sources.documents
                                                            : nullptr;
  if (known == nullptr || known->empty()) return exeFolder;
  return WireFolder(*known) + u"\\" + ProductSubFolder(exeDir, kind);
}

std::u16string GetSuiteFolder(int kind) {
  return GetSuiteFolder(SuiteFolderSources::FromSystem(), kind);
}

std::u16string ReadProductTitle(std::u16string_view iniFile, bool withVersion) {
  std::u16string name;
  platform::GetPrivateProfileString(u"OEM", u"ProductName", u"Kalder", name, 256, iniFile);
  if (!withVersion) return name;
  std::u16string version;
  platform::GetPrivateProfileString(u"Install", u"Version", u"6.1", version, 128, iniFile);
  return name + u" v" + version;
}

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
