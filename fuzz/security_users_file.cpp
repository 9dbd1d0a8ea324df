// Users files as found on disk: any bytes parse without reading past them, never yield more
// users than whole-field records fit, and what was read saves and reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "security/users_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const perimo::UsersFileContents contents = perimo::ParseUsersFile({data, size});
  if (size >= perimo::kUsersFileHeaderSize) {
    const size_t room = (size - perimo::kUsersFileHeaderSize + 10) / perimo::kUserRecordSize;
    if (contents.users.size() > room) std::abort();
  } else if (!contents.users.empty()) {
    std::abort();
  }
  const auto bytes = perimo::SerializeUsersFile(contents.users, contents.securityEnabled);
  const perimo::UsersFileContents again = perimo::ParseUsersFile(bytes);
  if (again.securityEnabled != contents.securityEnabled) std::abort();
  if (again.users.size() != contents.users.size()) std::abort();
  for (size_t i = 0; i < again.users.size(); ++i) {
    if (again.users[i].userName != contents.users[i].userName ||
        again.users[i].password != contents.users[i].password ||
        again.users[i].rights != contents.users[i].rights) {
      std::abort();
    }
  }
  return 0;
}
