#pragma once
// Who is logged in on the current connection, shared by every connection.
#include <array>
#include <cstdint>
#include <string>

namespace perimo {

// The five rights, always in this order (memory, users file, login reply).
enum RightIndex : int {
  kSendToTarget = 0,
  kGetFromTarget,
  kInstallSystemFiles,
  kSendFile,
  kRunStop
};
using Rights = std::array<uint16_t, 5>;

struct LoginState {
  bool securityEnabled = false;
  bool secureLinkOpen = false;
  std::u16string loggedInUser;  // empty: nobody
  Rights loggedInRights{1, 1, 1, 1, 1};

  // A new TCP connection starts with nobody logged in and no rights.
  void ResetLoginState() {
    loggedInUser.clear();
    loggedInRights = {0, 0, 0, 0, 0};
    secureLinkOpen = false;
  }
};

}  // namespace perimo
