#pragma once
// User accounts and their rights.
#include <string>
#include <vector>

#include "security/login_state.h"

namespace perimo {

struct UserAccount {
  std::u16string userName;  // 1..32 characters, unique ignoring case
  std::u16string password;  // 0..32 characters, compared exactly
  Rights rights{0, 0, 0, 0, 0};
};

using UserList = std::vector<UserAccount>;

}  // namespace perimo
