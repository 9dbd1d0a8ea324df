#pragma once
// Windows paths on Linux. The workstation names files as "C:\Proj\Main.APP", "Bin\x.dll"
// or "\Windows"; the drive map says which native folder each drive letter stands for.
// Both separators separate; each component is looked up exactly first and then ignoring
// case; a native path that no drive contains is written "\\?\unix\..." and maps back.
#include <array>
#include <optional>
#include <string>
#include <string_view>

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

// Wire path to native path. Case-insensitive lookup per existing component (the first in
// byte order when several differ only in case); components that do not exist keep their
// case. nullopt when the drive is not mapped or the path cannot be expressed.
std::optional<std::string> ToNativePath(std::u16string_view wirePath);
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
