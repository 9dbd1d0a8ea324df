#include "security/users_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace perimo {
namespace {

// N is a 16-bit word, so no sound file is larger than this.
constexpr size_t kMaxUsersFileSize = kUsersFileHeaderSize + 0xFFFF * kUserRecordSize;

// Reads little-endian words and fields off the file's bytes; every read past the end fails.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::optional<uint16_t> Word() {
    if (bytes_.size() - at_ < 2) return std::nullopt;
    const uint16_t v = static_cast<uint16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
    at_ += 2;
    return v;
  }

  bool Field(uint8_t (&field)[kScrambledFieldSize]) {
    if (bytes_.size() - at_ < kScrambledFieldSize) return false;
    std::memcpy(field, bytes_.data() + at_, kScrambledFieldSize);
    at_ += kScrambledFieldSize;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

void AppendWord(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

std::vector<uint8_t> ReadCappedFile(const std::string& nativePath) {
  std::vector<uint8_t> bytes;
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  uint8_t chunk[16384];
  while (bytes.size() < kMaxUsersFileSize) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  if (bytes.size() > kMaxUsersFileSize) bytes.resize(kMaxUsersFileSize);
  return bytes;
}

}  // namespace

void ScrambleText(std::u16string_view text, uint8_t (&field)[kScrambledFieldSize]) {
  for (size_t k = 0; k < kScrambledFieldSize; ++k) {
    const size_t slot = kScrambledFieldSize - 1 - k;
    const uint8_t c = slot < text.size() ? static_cast<uint8_t>(text[slot]) : 0;
    field[k] = static_cast<uint8_t>(~c);
  }
}

std::u16string UnscrambleText(const uint8_t (&field)[kScrambledFieldSize]) {
  std::u16string text;
  for (size_t slot = 0; slot < kScrambledFieldSize; ++slot) {
    const uint8_t c = static_cast<uint8_t>(~field[kScrambledFieldSize - 1 - slot]);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

UsersFileContents ParseUsersFile(std::span<const uint8_t> bytes) {
  UsersFileContents contents;
  Reader reader(bytes);
  const auto version = reader.Word();
  if (!version || *version != kUsersFileVersion) return contents;
  const auto enabled = reader.Word();
  if (!enabled) return contents;
  contents.securityEnabled = *enabled != 0;
  const auto count = reader.Word();
  if (!count) return contents;
  for (uint16_t i = 0; i < *count; ++i) {
    uint8_t name[kScrambledFieldSize];
    uint8_t password[kScrambledFieldSize];
    if (!reader.Field(name) || !reader.Field(password)) break;
    UserAccount& user = contents.users.emplace_back();
    user.userName = UnscrambleText(name);
    user.password = UnscrambleText(password);
    for (uint16_t& right : user.rights) {
      const auto word = reader.Word();
      if (!word) return contents;
      right = *word;
    }
  }
  return contents;
}

std::vector<uint8_t> SerializeUsersFile(const UserList& users, bool securityEnabled) {
  const size_t count = std::min<size_t>(users.size(), 0xFFFF);
  std::vector<uint8_t> out;
  out.reserve(kUsersFileHeaderSize + count * kUserRecordSize);
  AppendWord(out, kUsersFileVersion);
  AppendWord(out, securityEnabled ? 1 : 0);
  AppendWord(out, static_cast<uint16_t>(count));
  for (size_t i = 0; i < count; ++i) {
    uint8_t field[kScrambledFieldSize];
    ScrambleText(users[i].userName, field);
    out.insert(out.end(), field, field + kScrambledFieldSize);
    ScrambleText(users[i].password, field);
    out.insert(out.end(), field, field + kScrambledFieldSize);
    for (uint16_t right : users[i].rights) AppendWord(out, right);
  }
  return out;
}

void LoadUsers(std::u16string_view wirePath, UserList& users, bool& securityEnabled) {
  users.clear();
  securityEnabled = false;
  const auto native = platform::ToNativePath(wirePath);
  if (!native) return;
  UsersFileContents contents = ParseUsersFile(ReadCappedFile(*native));
  users = std::move(contents.users);
  securityEnabled = contents.securityEnabled;
}

bool SaveUsers(std::u16string_view wirePath, const UserList& users, bool securityEnabled) {
  const auto native = platform::ToNativePath(wirePath);
  if (!native || native->empty()) return false;
  const std::vector<uint8_t> bytes = SerializeUsersFile(users, securityEnabled);
  // Its scrambling is reversible: a new file is for the agent's account only.
  return platform::ReplaceFileAtomically(
      *native, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), 0600);
}

}  // namespace perimo
