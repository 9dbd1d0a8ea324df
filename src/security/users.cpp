#include "security/users.h"

#include "platform/text.h"

namespace perimo {

const UserAccount* FindUser(const UserList& users, std::u16string_view userName) {
  for (const UserAccount& user : users) {
    if (platform::EqualsIgnoreCase(user.userName, userName)) return &user;
  }
  return nullptr;
}

}  // namespace perimo
