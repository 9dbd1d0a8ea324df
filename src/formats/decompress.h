#pragma once
// Expanding a received file. Paths are native (UTF-8).
#include <cstdint>
#include <functional>
#include <string>

namespace perimo {

// Reads the source through the decoder its magic names (a file without a known magic is
// copied unchanged) and writes the plain content to a newly created target. True only when
// the whole content came out; on failure no target is left. Deletes the source when asked.
bool DecompressFile(const std::string& source, const std::string& target, bool deleteSource);

// Called after each chunk with the plain bytes written so far and the total expected.
using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

// The same, reporting progress.
bool DecompressFile(const std::string& source, const std::string& target, bool deleteSource,
                    const ProgressFn& progress);

// Expands into a file the caller created exclusively and opened for writing; the descriptor
// is closed whatever happens. On failure the caller removes the file.
bool DecompressFile(const std::string& source, int targetFd, const ProgressFn& progress = {});

// Writes the source compressed with kind (0 Huffman, 1 LZSS, 2 LZW, -1 plain copy) to a
// newly created target. Sources over 4 GiB - 1 cannot be compressed. On failure no target
// is left.
bool CompressFile(const std::string& source, const std::string& target, int kind,
                  const ProgressFn& progress = {});

}  // namespace perimo
