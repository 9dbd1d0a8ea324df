#include "app/language_library.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/culture_table.h"

namespace perimo {
namespace {

// A pack is a few tens of kilobytes; anything much larger is not one.
constexpr off_t kMaxPackBytes = 16 * 1024 * 1024;

bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The entry of folder named name, exactly or else ignoring case (the first in byte order).
std::optional<std::string> FindEntry(const std::string& folder, std::string_view name,
                                     bool wantFolder) {
  const auto isKind = [&](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 &&
           (wantFolder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
  };
  const std::string exact = folder + "/" + std::string(name);
  if (isKind(exact)) return exact;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::vector<std::string> matches;
  while (const dirent* e = ::readdir(dir)) {
    if (EqualsAsciiIgnoreCase(e->d_name, name)) matches.emplace_back(e->d_name);
  }
  ::closedir(dir);
  std::sort(matches.begin(), matches.end());
  for (const std::string& m : matches) {
    if (isKind(folder + "/" + m)) return folder + "/" + m;
  }
  return std::nullopt;
}

// A culture names one folder below the executable's; anything that would climb or descend
// further is no culture.
bool UsableCulture(std::string_view culture) {
  return culture != "." && culture != ".." &&
         culture.find_first_of("/\\") == std::string_view::npos;
}

std::optional<std::vector<uint8_t>> ReadPack(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::vector<uint8_t>> out;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxPackBytes) {
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    out = std::move(bytes);
  }
  ::close(fd);
  return out;
}

bool SplitExePath(const std::string& exePath, std::string& folder, std::string& file) {
  const size_t slash = exePath.rfind('/');
  if (exePath.empty() || slash == std::string::npos || slash == 0) return false;
  folder = exePath.substr(0, slash);
  file = exePath.substr(slash + 1);
  return true;
}

}  // namespace

std::string LanguageLibraryFileName(std::string_view exeFileName, bool pending) {
  const size_t dot = exeFileName.rfind('.');
  std::string_view base = exeFileName;
  std::string extension = "EXE";
  if (dot != std::string_view::npos && dot > 0) {
    base = exeFileName.substr(0, dot);
    extension.clear();
    for (char c : exeFileName.substr(dot + 1)) {
      extension.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (extension != "DLL" && extension != "EXE" && extension != "OCX") extension.clear();
  }
  std::string name(base);
  if (!extension.empty()) name += "-" + extension;
  return name + (pending ? "-mui-New.dll" : "-mui.dll");
}

std::u16string SelectCulture(std::u16string_view settingsFile, uint32_t userLocaleId) {
  std::u16string culture;
  if (!settingsFile.empty()) {
    culture = platform::ReadProfileString(u"Language", u"CultureName", u"", settingsFile);
  }
  if (culture.empty()) culture = platform::Ascii(CultureName(userLocaleId));
  return culture;
}

bool ApplyPendingLanguageUpdate(std::optional<std::u16string_view> culture,
                                const std::string& exePath) {
  std::string folder, file;
  if (!culture || !SplitExePath(exePath, folder, file)) return false;
  const std::string cultureName = platform::ToUtf8(*culture);
  if (!UsableCulture(cultureName)) return true;
  if (!cultureName.empty()) {
    const auto cultureFolder = FindEntry(folder, cultureName, true);
    if (!cultureFolder) return true;
    folder = *cultureFolder;
  }
  const auto pending = FindEntry(folder, LanguageLibraryFileName(file, true), false);
  if (!pending) return true;
  std::string current = folder + "/" + LanguageLibraryFileName(file);
  if (const auto existing = FindEntry(folder, LanguageLibraryFileName(file), false)) {
    current = *existing;
    if (::unlink(current.c_str()) != 0) return false;
  }
  return std::rename(pending->c_str(), current.c_str()) == 0;
}

LoadedLanguage LoadLanguageLibrary(std::u16string_view culture, const std::string& exePath) {
  if (platform::EqualsIgnoreCase(culture, u"en-US")) return {};
  std::string folder, file;
  if (!SplitExePath(exePath, folder, file)) return {};
  std::string name = platform::ToUtf8(culture);
  if (!UsableCulture(name)) name.clear();
  std::optional<std::string> packFolder;
  while (!name.empty() && !(packFolder = FindEntry(folder, name, true))) {
    const size_t dash = name.rfind('-');
    name = dash == std::string::npos ? std::string() : name.substr(0, dash);
  }
  const auto path =
      FindEntry(name.empty() ? folder : *packFolder, LanguageLibraryFileName(file), false);
  if (!path) return {};
  const auto bytes = ReadPack(*path);
  if (!bytes) return {};
  auto set = ReadResourcePe(*bytes);
  if (!set) return {};
  return {std::make_shared<const ResourceSet>(std::move(*set)), *path};
}

}  // namespace perimo
