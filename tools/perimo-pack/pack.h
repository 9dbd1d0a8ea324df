#pragma once
// The work of perimo-pack. Each operation writes its output through a temporary file in
// the output's folder and renames it into place, so a failure never leaves a partial file.
// Each returns an empty string on success, else a message naming what went wrong.
#include <cstdint>
#include <string>

namespace perimo::pack {

struct FileInfo {
  int kind = -1;
  uint64_t originalSize = 0;
  uint64_t compressedSize = 0;
};

const char* KindName(int kind);

std::string Compress(const std::string& input, const std::string& output, int kind);
std::string Expand(const std::string& input, const std::string& output);
std::string Inspect(const std::string& input, FileInfo* info);

}  // namespace perimo::pack
