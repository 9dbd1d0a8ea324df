#pragma once
// Where the agent's files are: its folder, its own settings, users and output files (beside
// the executable or in the per-user folder), the suite's settings and projects folders.
// Every result is in wire form.
#include <string>
#include <string_view>

#include "platform/suite_folders.h"
#include "protocol/agent_state.h"

namespace perimo {

using platform::GetSuiteFolder;
using platform::kSuiteProjectsFolder;
using platform::kSuiteSettingsFolder;
using platform::ReadProductTitle;
using platform::SuiteFolderSources;

// The executable's file name without its extension ("perimo" stays "perimo"; "Perimo.exe"
// becomes "Perimo"); "Perimo" when there is no name.
std::string ExeBaseName(std::string_view fileName);

// Computes every path and loads the drive map from section "Drives" of the agent's settings
// file. exePath is the native path of the executable.
AgentPaths ComputeAgentPaths(const std::string& exePath, const SuiteFolderSources& sources);

}  // namespace perimo
