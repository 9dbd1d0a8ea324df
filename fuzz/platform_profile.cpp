// Settings files as found on disk, in any encoding: reading never fails or reads past the
// file, and a write followed by a read gives back what was written while every other value
// of the file stays readable as before. Input: section, key and value on the first three
// lines (kept to what a profile can hold), then the file's bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/text.h"

namespace {

// A name or value as the profile functions can store it: no line breaks, no '=' or ']' in a
// name, no blanks or quotes at the ends, not empty.
std::u16string Storable(std::string_view line, bool name) {
  std::u16string text;
  for (unsigned char c : line) {
    if (c < 0x21 || c > 0x7E || c == '"' || c == '\'' || c == ';' || c == '[' ||
        (name && (c == '=' || c == ']'))) {
      continue;
    }
    text += static_cast<char16_t>(c);
  }
  return text.empty() ? u"x" : text;
}

std::string NextLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string line(rest.substr(0, end));
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const struct ScratchFile {
    std::string path;
    ScratchFile() {
      // Memory-backed when possible: every write is flushed, which would bound the runs per
      // second by the disk rather than by the code.
      std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
      pattern += "/perimo-fuzz-profile-XXXXXX";
      const int fd = mkstemp(pattern.data());
      if (fd < 0) std::abort();
      close(fd);
      path = pattern;
    }
    ~ScratchFile() { unlink(path.c_str()); }
  } scratch;
  const std::string& path = scratch.path;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::u16string section = Storable(NextLine(rest), true);
  const std::u16string key = Storable(NextLine(rest), true);
  const std::u16string value = Storable(NextLine(rest), false);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(rest.data(), rest.size());

  using perimo::platform::ReadNativeProfileString;
  const std::u16string other = ReadNativeProfileString(path, u"Other", u"K", u"none");
  if (!perimo::platform::WriteNativeProfileString(path, section, key, value)) return 0;
  if (ReadNativeProfileString(path, section, key, u"default") != value) std::abort();
  if (!perimo::platform::EqualsIgnoreCase(section, u"Other") &&
      ReadNativeProfileString(path, u"Other", u"K", u"none") != other) {
    std::abort();
  }
  return 0;
}
