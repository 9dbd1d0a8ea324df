#pragma once
// The users file: which accounts exist and whether security is on.
//
// Layout, little-endian:  u16 version (1) | u16 security enabled (0/1) | u16 N |
// N × 74-byte records:    name[32] scrambled | password[32] scrambled | u16 × 5 rights
// A scrambled field lays the text into 32 slots (0 after its end) and stores byte k as the
// complement of the low 8 bits of slot 31 - k: back to front and inverted, so "ab" is thirty
// 0xFF bytes, then 0x9D 0x9E.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "security/users.h"

namespace perimo {

constexpr size_t kScrambledFieldSize = 32;
constexpr size_t kUsersFileHeaderSize = 6;
constexpr size_t kUserRecordSize = 74;
constexpr uint16_t kUsersFileVersion = 1;

// Characters past 32 are dropped; only the low 8 bits of each survive.
void ScrambleText(std::u16string_view text, uint8_t (&field)[kScrambledFieldSize]);
// Up to the first slot that decodes to 0, at most 32 characters.
std::u16string UnscrambleText(const uint8_t (&field)[kScrambledFieldSize]);

struct UsersFileContents {
  UserList users;
  bool securityEnabled = false;
};

// Reads what the bytes hold: nothing unless the version word is 1; a cut ends reading at
// once and keeps the users read before it, a last user with only some of its rights
// included (the rest 0).
UsersFileContents ParseUsersFile(std::span<const uint8_t> bytes);
std::vector<uint8_t> SerializeUsersFile(const UserList& users, bool securityEnabled);

// Replaces users and securityEnabled with the file's contents; a missing, empty or
// unreadable file gives no users and security off.
void LoadUsers(std::u16string_view wirePath, UserList& users, bool& securityEnabled);
// Writes a sibling temporary file and renames it over the users file, so a failed save
// leaves the earlier file as it was. False when the file could not be written.
bool SaveUsers(std::u16string_view wirePath, const UserList& users, bool securityEnabled);

}  // namespace perimo
