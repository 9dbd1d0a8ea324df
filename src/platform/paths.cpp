#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/profile.h"
#include "platform/text.h"

namespace perimo::platform {

namespace {

using NativeParts = std::vector<std::string>;

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

// Lexical split of a native path; a relative path is taken from the current folder.
NativeParts SplitNative(std::string_view path) {
  NativeParts parts;
  std::string absolute = path.empty() || path[0] != '/' ? CurrentFolder() + "/" : std::string();
  absolute += path;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string_view part(absolute.data() + start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    start = end + 1;
  }
  return parts;
}

std::string JoinNative(const NativeParts& parts) {
  std::string path;
  for (const auto& part : parts) path += "/" + part;
  return path.empty() ? "/" : path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsInvalidShortChar(char16_t c) {
  return c < 0x20 || c >= 0x7F ||
         std::u16string_view(u"*?<>|\"+=,;[] ").find(c) != std::u16string_view::npos;
}

// The 8.3 alias the workstation may have been shown for a long name, e.g. "LONG~KEI.TXT" for
// "longname123.txt": four characters, '~', three letters of a hash of the name, extension.
std::u16string ShortAlias(std::u16string_view name) {
  static constexpr char kHashChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  if (name.empty()) return {};
  auto lower = [](char16_t c) { return ToLower(std::u16string_view(&c, 1))[0]; };
  uint16_t hash = 0xBEEF;
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    hash = static_cast<uint16_t>((hash << 3) ^ (hash >> 5) ^ lower(name[i]) ^
                                 (lower(name[i + 1]) << 8));
  }
  hash = static_cast<uint16_t>((hash << 3) ^ (hash >> 5) ^ lower(name.back()));
  size_t ext = std::u16string_view::npos;
  for (size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == u'.') ext = i;
  }
  std::u16string alias;
  for (size_t i = 0; i < 4 && i < name.size() && i != ext; ++i) {
    alias += IsInvalidShortChar(name[i]) ? u'_' : FoldCase(name[i]);
  }
  while (alias.size() < 5) alias += u'~';
  alias += static_cast<char16_t>(kHashChars[(hash >> 10) & 0x1F]);
  alias += static_cast<char16_t>(kHashChars[(hash >> 5) & 0x1F]);
  alias += static_cast<char16_t>(kHashChars[hash & 0x1F]);
  if (ext != std::u16string_view::npos) {
    alias += u'.';
    for (size_t i = ext + 1; i < name.size() && i < ext + 4; ++i) {
      alias += IsInvalidShortChar(name[i]) ? u'_' : FoldCase(name[i]);
    }
  }
  return alias;
}

// A byte of a non-UTF-8 native name travels as U+DC80..U+DCFF; an 8-bit request gives it
// back as U+0080..U+00FF, so the two count as the same character here.
char16_t LookupFold(char16_t c) {
  return FoldCase(c >= 0xDC80 && c <= 0xDCFF ? static_cast<char16_t>(c - 0xDC00) : c);
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LookupFold(a[i]) != LookupFold(b[i])) return false;
  }
  return true;
}

// Windows drops trailing dots and blanks from a name: "abc.def." is "abc.def".
std::u16string_view StripTrailingDotsAndBlanks(std::u16string_view name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.remove_suffix(1);
  return name;
}

// The native name of one wire component inside folder: exact first, then ignoring case (the
// first in byte order), then as an 8.3 alias; a name that is not there keeps its case.
std::string LookUpComponent(const std::string& folder, std::u16string_view wireName) {
  const std::string asked = ToUtf8(wireName);
  const std::string prefix = folder == "/" ? folder : folder + "/";
  if (Exists(prefix + asked)) return asked;
  const std::u16string_view stripped = StripTrailingDotsAndBlanks(wireName);
  const std::string strippedUtf8 = ToUtf8(stripped);
  if (stripped.size() != wireName.size() && Exists(prefix + strippedUtf8)) return strippedUtf8;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return strippedUtf8;
  std::string best;
  bool found = false;
  const bool maybeAlias = stripped.find(u'~') != std::u16string_view::npos;
  std::string aliasMatch;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    const std::u16string wide = FromUtf8(name);
    if (SameName(wide, stripped)) {
      if (!found || name < best) best = name;
      found = true;
    } else if (maybeAlias && aliasMatch.empty() && EqualsIgnoreCase(ShortAlias(wide), stripped)) {
      aliasMatch = name;
    }
  }
  closedir(dir);
  if (found) return best;
  return aliasMatch.empty() ? strippedUtf8 : aliasMatch;
}

bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

constexpr std::u16string_view kUnixPrefix = u"\\\\?\\unix";

std::vector<NativeParts>& AgentFolderParts() {
  static std::vector<NativeParts> folders;
  return folders;
}

bool StartsWithParts(const NativeParts& path, const NativeParts& folder) {
  return folder.size() <= path.size() && std::equal(folder.begin(), folder.end(), path.begin());
}

}  // namespace

void SetAgentFolders(std::vector<std::string> nativeFolders) {
  auto& folders = AgentFolderParts();
  folders.clear();
  for (const auto& folder : nativeFolders) {
    if (!folder.empty()) folders.push_back(SplitNative(folder));
  }
}

bool IsReachableByRequest(std::string_view nativePath) {
  const NativeParts parts = SplitNative(nativePath);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string* folder = Drives().Get(letter);
    if (folder && StartsWithParts(parts, SplitNative(*folder))) return true;
  }
  for (const auto& folder : AgentFolderParts()) {
    if (StartsWithParts(parts, folder)) return true;
  }
  return false;
}

DriveMap::DriveMap() {
  Clear();
}

void DriveMap::Clear() {
  for (auto& folder : folders_) folder.clear();
  folders_['C' - 'A'] = "/";
}

void DriveMap::Set(char letter, std::string nativeFolder) {
  const char upper = static_cast<char>(letter & ~0x20);
  if (upper < 'A' || upper > 'Z') return;
  folders_[upper - 'A'] =
      nativeFolder.empty() ? std::string() : JoinNative(SplitNative(nativeFolder));
}

const std::string* DriveMap::Get(char letter) const {
  const char upper = static_cast<char>(letter & ~0x20);
  if (upper < 'A' || upper > 'Z' || folders_[upper - 'A'].empty()) return nullptr;
  return &folders_[upper - 'A'];
}

void DriveMap::LoadFromSettings(const std::string& nativeIniPath) {
  Clear();
  const size_t slash = nativeIniPath.rfind('/');
  const std::string iniFolder =
      slash == std::string::npos ? "." : nativeIniPath.substr(0, slash + 1);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string folder = ToUtf8(ReadNativeProfileString(
        nativeIniPath, u"Drives", std::u16string(1, static_cast<char16_t>(letter)), u""));
    if (folder.empty()) continue;
    Set(letter, folder[0] == '/' ? folder : iniFolder + folder);
  }
}

DriveMap& Drives() {
  static DriveMap map;
  return map;
}

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

std::optional<std::string> ToNativePath(std::u16string_view wirePath, PathScope scope) {
  std::u16string_view rest = wirePath;
  bool unixPath = false;
  if (rest.size() >= 4 && IsSeparator(rest[0]) && IsSeparator(rest[1]) &&
      (rest[2] == u'?' || rest[2] == u'.') && IsSeparator(rest[3])) {
    rest.remove_prefix(4);
    unixPath = StartsWithIgnoreCase(rest, u"unix") && (rest.size() == 4 || IsSeparator(rest[4]));
    if (unixPath) rest.remove_prefix(4);
    if (!unixPath && !(rest.size() >= 2 && rest[1] == u':')) rest = {};
  } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    rest = {};  // network names have no meaning here
  }
  if ((rest.empty() && !unixPath) || wirePath.find(u'\0') != std::u16string_view::npos) {
    errno = ENOENT;
    return std::nullopt;
  }
  const bool hasDrive = !unixPath && rest.size() >= 2 && rest[1] == u':';
  if (!unixPath && !hasDrive && !IsSeparator(rest[0])) {
    // Relative: from the current folder as the workstation would name it, so ".." stops at
    // that drive's root like any other name.
    std::u16string absolute = ToWirePath(CurrentFolder());
    if (absolute.back() != u'\\') absolute += u'\\';
    absolute += rest;
    return ToNativePath(absolute, scope);
  }
  NativeParts parts;
  size_t floor = 0;  // parts that ".." cannot remove: the drive's own folder
  if (!unixPath) {
    const char letter = !hasDrive ? 'C' : rest[0] < 0x80 ? static_cast<char>(rest[0]) : '?';
    const std::string* folder = Drives().Get(letter);
    if (!folder) {
      errno = ENOENT;  // a drive that is not mapped does not exist
      return std::nullopt;
    }
    if (hasDrive) rest.remove_prefix(2);
    parts = SplitNative(*folder);
    floor = parts.size();
  }
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::u16string_view part = rest.substr(start, end - start);
    start = end + 1;
    if (part == u"..") {
      if (parts.size() > floor) parts.pop_back();
    } else if (!part.empty() && part != u"." && !StripTrailingDotsAndBlanks(part).empty()) {
      parts.push_back(LookUpComponent(JoinNative(parts), part));
    }
  }
  std::string native = JoinNative(parts);
  if (unixPath && scope == PathScope::kRequest && !IsReachableByRequest(native)) {
    errno = ENOENT;
    return std::nullopt;
  }
  if (IsSeparator(wirePath.back()) && native != "/") native += '/';
  return native;
}

std::u16string ToWirePath(std::string_view nativePath) {
  const NativeParts parts = SplitNative(nativePath);
  int bestLetter = -1;
  size_t bestDepth = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string* folder = Drives().Get(letter);
    if (!folder) continue;
    const NativeParts driveParts = SplitNative(*folder);
    if (driveParts.size() > parts.size() || (bestLetter >= 0 && driveParts.size() <= bestDepth)) {
      continue;
    }
    if (std::equal(driveParts.begin(), driveParts.end(), parts.begin())) {
      bestLetter = letter;
      bestDepth = driveParts.size();
    }
  }
  std::u16string wire;
  size_t first = 0;
  if (bestLetter >= 0) {
    wire = {static_cast<char16_t>(bestLetter), u':'};
    first = bestDepth;
  } else {
    wire = kUnixPrefix;
  }
  for (size_t i = first; i < parts.size(); ++i) wire += u"\\" + FromUtf8(parts[i]);
  if (first == parts.size()) wire += u'\\';
  return wire;
}

std::u16string ResolveTargetPath(std::u16string_view path, std::u16string_view exeDir) {
  if (path.empty() || path.find(u':') != std::u16string_view::npos || path[0] == u'\\') {
    return std::u16string(path);
  }
  std::u16string_view dir = exeDir;
  while (!dir.empty() && IsSeparator(dir.back())) dir.remove_suffix(1);
  size_t cut = dir.size();
  while (cut > 0 && !IsSeparator(dir[cut - 1])) --cut;
  std::u16string parent(cut > 0 ? dir.substr(0, cut) : dir);
  if (cut == 0) parent += u'\\';
  return parent + std::u16string(path);
}

std::u16string ParentFolder(std::u16string_view wirePath) {
  size_t cut = wirePath.size();
  while (cut > 0 && !IsSeparator(wirePath[cut - 1])) --cut;
  if (cut == 0) {
    return wirePath.size() >= 2 && wirePath[1] == u':' ? std::u16string(wirePath.substr(0, 2))
                                                       : std::u16string();
  }
  return std::u16string(wirePath.substr(0, cut - 1));
}

std::u16string FileNamePart(std::u16string_view wirePath) {
  size_t cut = wirePath.size();
  while (cut > 0 && !IsSeparator(wirePath[cut - 1])) --cut;
  if (cut == 0 && wirePath.size() >= 2 && wirePath[1] == u':') cut = 2;
  return std::u16string(wirePath.substr(cut));
}

}  // namespace perimo::platform
