#pragma once
// The suite's per-user settings folder and projects folder, as Windows names them: a known
// folder followed by the product sub-folder that "Program Settings.ini" beside the executable
// names. Results are wire paths.
#include <string>
#include <string_view>

namespace perimo::platform {

// Native folders the suite folders are built on; empty when unavailable.
struct SuiteFolderSources {
  std::string exeFolder;     // no trailing separator
  std::string localAppData;  // per-user settings (XDG data home)
  std::string documents;
  static SuiteFolderSources FromSystem();
};

constexpr int kSuiteSettingsFolder = 0;
constexpr int kSuiteProjectsFolder = 1;

// The suite folder of that kind, ending in a backslash; the executable folder when the
// known folder is unavailable or the kind is unknown; empty without an executable folder.
std::u16string GetSuiteFolder(const SuiteFolderSources& sources, int kind);
std::u16string GetSuiteFolder(int kind);

// "%s v%s" of "OEM"/"ProductName" (default "Kalder") and "Install"/"Version" (default
// "6.1") of the file, or the name alone without the version.
std::u16string ReadProductTitle(std::u16string_view iniFile, bool withVersion);

// A native folder in wire form without its trailing backslash ("C:\" becomes "C:").
std::u16string WireFolder(const std::string& nativeFolder);

}  // namespace perimo::platform
