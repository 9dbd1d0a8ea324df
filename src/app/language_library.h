#pragma once
// Language packs: which culture the agent speaks, the pack downloaded for the next start, and
// the pack loaded from the culture folder beside the executable (with fallback from "de-DE"
// to "de" to the executable's own folder).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "formats/pe_resources.h"

namespace perimo {

// The pack's file name for an executable file name: "Perimo.exe" gives "Perimo-EXE-mui.dll";
// a name without extension counts as ".exe" ("perimo" gives "perimo-EXE-mui.dll"); other
// extensions are dropped ("x.bin" gives "x-mui.dll"). pending: "...-mui-New.dll".
std::string LanguageLibraryFileName(std::string_view exeFileName, bool pending = false);

// "Language"/"CultureName" of the suite's settings file (wire path; empty: not read), else
// the culture of the locale identifier; empty when that is not listed.
std::u16string SelectCulture(std::u16string_view settingsFile, uint32_t userLocaleId);

// Replaces the culture folder's pack by a pending one. True when nothing was pending or the
// replacement succeeded; false without a culture or executable path, or when it failed.
bool ApplyPendingLanguageUpdate(std::optional<std::u16string_view> culture,
                                const std::string& exePath);

struct LoadedLanguage {
  std::shared_ptr<const ResourceSet> pack;  // null: the built-in texts
  std::string path;                         // the pack's native path when loaded
};
// Nothing for "en-US" (any case). Files that are not packs load nothing.
LoadedLanguage LoadLanguageLibrary(std::u16string_view culture, const std::string& exePath);

}  // namespace perimo
