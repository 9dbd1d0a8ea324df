#pragma once
// The agent's own language library is in use while it runs; a download that targets it is
// stored under the pending name and replaces the library at the next start.
#include <string>
#include <string_view>

namespace perimo {

inline constexpr std::u16string_view kLanguageLibraryName = u"Perimo-EXE-mui.dll";
inline constexpr std::u16string_view kPendingLanguageLibraryName = u"Perimo-EXE-mui-New.dll";

// True when the file name part of the wire path is the language library (ignoring case);
// out then holds the same folder with the pending name. Otherwise out is emptied.
bool RedirectLanguageDownload(std::u16string_view targetPath, std::u16string& out);

}  // namespace perimo
