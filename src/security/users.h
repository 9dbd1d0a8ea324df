#pragma once
// User accounts and their rights.
#include <string>
#include <string_view>
#include <vector>

#include "security/login_state.h"

namespace perimo {

struct UserAccount {
  std::u16string userName;  // 1..32 characters, unique ignoring case
  std::u16string password;  // 0..32 characters, compared exactly
  Rights rights{0, 0, 0, 0, 0};
};

using UserList = std::vector<UserAccount>;

constexpr size_t kMaxUserNameChars = 32;
constexpr size_t kMaxPasswordChars = 32;

// The first account whose name equals userName ignoring case; null when there is none.
const UserAccount* FindUser(const UserList& users, std::u16string_view userName);

}  // namespace perimo
