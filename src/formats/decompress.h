#pragma once
// Expanding a received file. Paths are native (UTF-8).
#include <string>

namespace perimo {

// Reads the source through the decoder its magic names (a file without a known magic is
// copied unchanged) and writes the plain content to a newly created target. True only when
// the whole content came out; on failure no target is left. Deletes the source when asked.
bool DecompressFile(const std::string& source, const std::string& target, bool deleteSource);

}  // namespace perimo
