#pragma once
// A depth-first walk of a native folder tree for listings. Entries come in the order the
// file system returns them; names are wire text, paths below the root are joined with '\'.
// An entry reached through a symbolic link is reported only when its real place is one a
// request may name (inside the drive map), and a linked folder only when the walk has not
// been there yet, so a link cycle cannot make the walk endless.
#include <functional>
#include <string>
#include <string_view>

namespace perimo::platform {

struct TreeEntry {
  std::u16string_view name;
  std::u16string_view relative;  // below the root: "Sub\name"; the bare name at the top
  bool directory = false;
  int depth = 0;  // 0 for the root's own entries
};

// Called for every entry except "." and ".."; for a folder, true enters it. Entries that no
// longer exist or are links to nothing are not reported.
using TreeVisitor = std::function<bool(const TreeEntry& entry)>;

// False when the root cannot be opened as a folder.
bool WalkTree(const std::string& nativeRoot, const TreeVisitor& visit);

}  // namespace perimo::platform
