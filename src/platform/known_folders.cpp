#include "platform/known_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace perimo::platform {

namespace {

std::string HomeFolder() {
  if (const char* home = getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// An absolute folder from an XDG variable, or the fallback.
std::string XdgFolder(const char* variable, const std::string& fallback) {
  const char* value = getenv(variable);
  return value && value[0] == '/' ? WithoutTrailingSlash(value) : fallback;
}

}  // namespace

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string UserSettingsFolder() {
  return XdgFolder("XDG_DATA_HOME", WithoutTrailingSlash(HomeFolder()) + "/.local/share");
}

// user-dirs.dirs holds shell assignments such as XDG_DOCUMENTS_DIR="$HOME/Documents".
std::string DocumentsFolder() {
  const std::string home = WithoutTrailingSlash(HomeFolder());
  const std::string fallback = home + "/Documents";
  std::ifstream in(XdgFolder("XDG_CONFIG_HOME", home + "/.config") + "/user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.compare(0, 5, "$HOME") == 0) {
      value = home + value.substr(5);
    } else if (value.empty() || value[0] != '/') {
      continue;  // only absolute or $HOME-relative paths are valid there
    }
    value = WithoutTrailingSlash(value);
    // A documents folder equal to home means "not set" to the desktop tools too.
    return value == home ? fallback : value;
  }
  return fallback;
}

}  // namespace perimo::platform
