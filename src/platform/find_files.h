#pragma once
// Directory search with Windows wildcard rules: '*' any run, '?' one character (a trailing
// '?', or one before a dot, may also match nothing), "*.*" every name, a pattern ending in
// '.' names without a dot, all ignoring case.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace perimo::platform {

struct FindEntry {
  std::u16string name;
  uint32_t attributes = 0;
  uint64_t size = 0;
  FileTimes times;
};

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name);

// Entries of the folder of wirePattern whose names match its last component, "." and ".."
// included where Windows lists them. Empty when the folder does not exist.
std::vector<FindEntry> FindFiles(std::u16string_view wirePattern);

}  // namespace perimo::platform
