#pragma once
// The executable's own location and the per-user folders, as native paths.
#include <string>

namespace perimo::platform {

std::string ExecutablePath();    // empty when it cannot be determined
std::string ExecutableFolder();  // no trailing separator
// $XDG_DATA_HOME, default ~/.local/share.
std::string UserSettingsFolder();
// The XDG documents folder (user-dirs.dirs), default ~/Documents.
std::string DocumentsFolder();

}  // namespace perimo::platform
