#include "dataprot/data_protection.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace perimo::dataprot {
namespace {

namespace pf = platform;

using InitializeFn = int32_t (*)(void*, const char16_t*, int32_t);
using StateFn = int32_t (*)();
using GetDeviceIdFn = int32_t (*)(char16_t*, int32_t);
using SetPasswordFn = int32_t (*)(const char16_t*, int32_t, char16_t*, int32_t);
using GetActiveFilesFn = int32_t (*)(char16_t*, char16_t*, int32_t);
using ConfigureFn = int32_t (*)(void*);

constexpr const char16_t* kLibraryFiles[] = {kLibraryName, u"MFC90U.dll",
                                             u"Microsoft.VC90.MFC.manifest", u"msvcr90.dll",
                                             u"Microsoft.VC90.CRT.manifest"};

// The text in a buffer the library filled, up to its terminator (the last unit is always one).
std::u16string TextOf(std::vector<char16_t>& buffer) {
  buffer.back() = 0;
  return std::u16string(buffer.data());
}

}  // namespace

void CopyLibraryFiles(std::u16string_view exeDir) {
  const std::u16string folder(exeDir);
  for (const char16_t* name : kLibraryFiles) {
    const std::u16string target = folder + u"\\" + name;
    if (pf::PathExists(target)) continue;
    pf::CopyFile(folder + u"\\Bin\\" + name, target, true);
  }
}

DataProtectionLibrary& DataProtectionLibrary::Instance() {
  static DataProtectionLibrary library;
  return library;
}

void DataProtectionLibrary::Prepare(std::u16string_view exeDir) {
  CopyLibraryFiles(exeDir);
  if (library_.loaded()) return;
  if (library_.Load(kLibraryName, exeDir, pf::PathScope::kAgent)) library_.Keep();
}

int32_t DataProtectionLibrary::Initialize(void* parentWindow, std::u16string_view folder) {
  const auto entry = library_.Entry<InitializeFn>("DPInitialize");
  if (entry == nullptr) return 0;
  const std::u16string native = pf::FromUtf8(pf::ToNativePath(folder).value_or(std::string()));
  return entry(parentWindow, native.c_str(), 0);
}

int32_t DataProtectionLibrary::State() {
  const auto entry = library_.Entry<StateFn>("DPState");
  return entry != nullptr ? entry() : 0;
}

bool DataProtectionLibrary::GetDeviceId(std::u16string& id) {
  id.clear();
  const auto entry = library_.Entry<GetDeviceIdFn>("DPGetDeviceID");
  if (entry == nullptr) return false;
  std::vector<char16_t> buffer(kDeviceIdChars, 0);
  if (entry(buffer.data(), kDeviceIdChars) == 0) return false;
  id = TextOf(buffer);
  return true;
}

bool DataProtectionLibrary::SetPassword(std::u16string_view password, std::u16string& result) {
  result = kInvalidResult;
  const auto entry = library_.Entry<SetPasswordFn>("DPSetPassword");
  if (entry == nullptr) return false;
  std::vector<char16_t> buffer(kPasswordResultChars, 0);
  std::copy(std::begin(kInvalidResult), std::end(kInvalidResult), buffer.begin());
  const std::u16string text(password);
  const bool ok = entry(text.c_str(), 1, buffer.data(), kPasswordResultChars) != 0;
  result = TextOf(buffer);
  return ok;
}

std::pair<std::u16string, std::u16string> DataProtectionLibrary::GetActiveFiles() {
  const auto entry = library_.Entry<GetActiveFilesFn>("DPGetActiveFiles");
  if (entry == nullptr) return {};
  std::vector<char16_t> first(kActiveFileChars, 0);
  std::vector<char16_t> second(kActiveFileChars, 0);
  entry(first.data(), second.data(), kActiveFileChars);
  return {TextOf(first), TextOf(second)};
}

void DataProtectionLibrary::Configure(void* parentWindow) {
  if (const auto entry = library_.Entry<ConfigureFn>("DPConfigure")) entry(parentWindow);
}

ConfigureOutcome ConfigureDataProtection(DataProtectionLibrary& library, std::u16string_view exeDir,
                                         void* dialogWindow) {
  ConfigureOutcome outcome;
  std::u16string project;
  pf::GetPrivateProfileString(u"Application", u"Directory", u"", project, 261,
                              std::u16string(exeDir) + u"\\CEApp.INI");
  if (project.empty()) {
    outcome.noActiveProject = true;
    return outcome;
  }
  library.Prepare(exeDir);
  outcome.initialized = library.Initialize(dialogWindow, project) != 0;
  if (!outcome.initialized) outcome.state = library.State();
  library.Configure(dialogWindow);
  return outcome;
}

}  // namespace perimo::dataprot
