#pragma once
// Creating files that must not collide, and replacing files without ever leaving a torn one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace perimo::platform {

// Creates prefix + <hexDigits random upper-case hex digits> + suffix in the folder with
// O_EXCL, the given mode less the umask. Returns the open descriptor (read-write,
// close-on-exec) and sets name to the file name; -1 with errno set when no name could be had.
int CreateUniqueFile(const std::string& nativeFolder, std::string_view prefix,
                     std::string_view suffix, int hexDigits, std::string& name,
                     unsigned mode = 0666);

// Writes contents to a sibling temporary file, flushes it to disk and renames it over the
// file (following a symbolic link to its target), keeping an existing file's mode; a new
// file gets newFileMode less the umask. Where the file system allows, the temporary file has
// no name until it is complete, so a crash while writing leaves nothing behind; a complete
// one that a crash left just before its rename is removed by the next replace of the file. On
// failure the earlier file is untouched, the temporary file removed and errno set. When the folder
// refuses the temporary file (or the rename) but the file is writable, the file is rewritten in
// place and flushed instead.
bool ReplaceFileAtomically(const std::string& nativePath, std::string_view contents,
                           unsigned newFileMode = 0666);

// Reads a whole regular file of at most maxBytes; false with errno set when it cannot be
// read (EINVAL for a device, FIFO or folder, EFBIG when it is larger).
bool ReadWholeFile(const std::string& nativePath, std::string& contents,
                   size_t maxBytes = SIZE_MAX);

}  // namespace perimo::platform
