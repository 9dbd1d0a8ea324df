#pragma once
// Profile (INI) files with Windows semantics: sections and keys ignore case, the first match
// wins, blanks are trimmed, surrounding quotes stripped, ';' comments, the default when
// absent, results cut to the caller's buffer. Writes keep every other line and replace the
// file atomically (sibling temporary file, flush, rename). Files are wire paths.
#include <cstdint>
#include <string>
#include <string_view>

namespace perimo::platform {

// Copies at most bufferChars-1 characters into out; returns the count copied.
uint32_t GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, std::u16string& out,
                                 uint32_t bufferChars, std::u16string_view wireFile);
// Convenience: the whole value (buffer of 65536 characters).
std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, std::u16string_view wireFile,
                                 uint32_t bufferChars = 65536);
uint32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key,
                              int32_t defaultValue, std::u16string_view wireFile);
// False when the file could not be written; the earlier file is then intact.
bool WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, std::u16string_view wireFile);

// The same on a native path, for files the agent names itself (its settings file is read
// before the drive map exists).
std::u16string ReadNativeProfileString(const std::string& nativeFile, std::u16string_view section,
                                       std::u16string_view key, std::u16string_view defaultValue);
bool WriteNativeProfileString(const std::string& nativeFile, std::u16string_view section,
                              std::u16string_view key, std::u16string_view value);

}  // namespace perimo::platform
