#pragma once
// Where the agent's files are: its folder, its own settings, users and output files (beside
// the executable or in the per-user folder), the suite's settings and projects folders.
// Every result is in wire form.
#include <string>
#include <string_view>

#include "protocol/agent_state.h"

namespace perimo {

// Native folders the suite folders are built on; empty when unavailable.
struct SuiteFolderSources {
  std::string exeFolder;     // no trailing separator
  std::string localAppData;  // per-user settings (XDG data home)
  std::string documents;
  static SuiteFolderSources FromSystem();
};

constexpr int kSuiteSettingsFolder = 0;
constexpr int kSuiteProjectsFolder = 1;

// The suite folder of that kind, ending in a backslash: the known folder followed by the
// product sub-folder named by "Program Settings.ini" beside the executable (when there is
// one); the executable folder when the known folder is unavailable or the kind is unknown.
std::u16string GetSuiteFolder(const SuiteFolderSources& sources, int kind);
std::u16string GetSuiteFolder(int kind);

// "%s v%s" of "OEM"/"ProductName" (default "Kalder") and "Install"/"Version" (default
// "6.1") of the file, or the name alone without the version.
std::u16string ReadProductTitle(std::u16string_view iniFile, bool withVersion);

// The executable's file name without its extension ("perimo" stays "perimo"; "Perimo.exe"
// becomes "Perimo"); "Perimo" when there is no name.
std::string ExeBaseName(std::string_view fileName);

// Computes every path and loads the drive map from section "Drives" of the agent's settings
// file. exePath is the native path of the executable.
AgentPaths ComputeAgentPaths(const std::string& exePath, const SuiteFolderSources& sources);

}  // namespace perimo
