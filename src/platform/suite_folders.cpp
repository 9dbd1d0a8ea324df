#include "platform/suite_folders.h"

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

std::u16string ProductSubFolder(const std::u16string& exeDir, int kind) {
  const std::u16string suiteSettings = exeDir + u"\\Program Settings.ini";
  if (!IsFile(suiteSettings)) return {};
  std::u16string company;
  GetPrivateProfileString(u"OEM", u"CompanyID", u"0", company, 128, suiteSettings);
  const int companyId = std::atoi(ToLatin1(company).c_str());
  // Company 40 names its folders without the version.
  std::u16string name = ReadProductTitle(suiteSettings, companyId != 40);
  if (kind == kSuiteProjectsFolder) name += u" Projects";
  return name + u"\\";
}

}  // namespace

std::u16string WireFolder(const std::string& nativeFolder) {
  std::u16string wire = ToWirePath(nativeFolder);
  while (!wire.empty() && wire.back() == u'\\') wire.pop_back();
  return wire;
}

SuiteFolderSources SuiteFolderSources::FromSystem() {
  return {ExecutableFolder(), UserSettingsFolder(), DocumentsFolder()};
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
  GetPrivateProfileString(u"OEM", u"ProductName", u"Kalder", name, 256, iniFile);
  if (!withVersion) return name;
  std::u16string version;
  GetPrivateProfileString(u"Install", u"Version", u"6.1", version, 128, iniFile);
  return name + u" v" + version;
}

}  // namespace perimo::platform
