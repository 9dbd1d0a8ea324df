#pragma once
// Windows paths on Linux. The workstation names files as "C:\Proj\Main.APP", "Bin\x.dll"
// or "\Windows"; the drive map says which native folder each drive letter stands for.
// Both separators separate; each component is looked up exactly first and then ignoring
// case; a native path that no drive contains is written "\\?\unix\..." and maps back.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perimo::platform {

class DriveMap {
 public:
  DriveMap();  // C is "/" and no other drive is mapped
  void Clear();
  void Set(char letter, std::string nativeFolder);  // empty folder unmaps
  const std::string* Get(char letter) const;        // null when unmapped
  // Reads section "Drives", keys "A".."Z" of a settings file given as a native path;
  // keeps C as "/" unless the file maps it.
  void LoadFromSettings(const std::string& nativeIniPath);

 private:
  std::array<std::string, 26> folders_;
};

// The process-wide drive map used by every path conversion below.
DriveMap& Drives();

// Who names a path. The drive map is a boundary for names that arrive in requests: ".." stops
// at a drive's root, and a "\\?\unix" name (or a relative one resolved from a current folder
// outside every drive) must lie inside a mapped drive or one of the agent's own folders. The
// agent's own use of its paths is not restricted.
enum class PathScope { kRequest, kAgent };

// The agent's own native folders that requests may reach although no drive contains them: its
// executable folder and its per-user settings folder.
void SetAgentFolders(std::vector<std::string> nativeFolders);
// True when a normalised absolute native path lies inside a mapped drive or an agent folder.
bool IsReachableByRequest(std::string_view nativePath);

// Wire path to native path. Case-insensitive lookup per existing component (the first in
// byte order when several differ only in case); components that do not exist keep their
// case. A relative path starts at the current folder's wire form. nullopt (errno ENOENT) when
// the drive is not mapped, the path cannot be expressed, or a request's name leaves the
// drive map.
std::optional<std::string> ToNativePath(std::u16string_view wirePath,
                                        PathScope scope = PathScope::kRequest);
// Native path to wire path: longest mapped drive folder that contains it, else "\\?\unix".
std::u16string ToWirePath(std::string_view nativePath);

// A relative request path is taken relative to the parent of exeDir (exeDir without its last
// component, ending in a backslash); a path that is empty, contains ':' or begins with '\'
// is returned unchanged.
std::u16string ResolveTargetPath(std::u16string_view path, std::u16string_view exeDir);

// Helpers on wire paths.
std::u16string ParentFolder(std::u16string_view wirePath);  // without trailing separator
std::u16string FileNamePart(std::u16string_view wirePath);  // after the last separator
bool IsSeparator(char16_t c);

}  // namespace perimo::platform
