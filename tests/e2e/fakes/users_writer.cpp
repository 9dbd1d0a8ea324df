// Saves a users file the way the agent's user dialogs do, at a moment the caller picks, so
// that a test can kill the save halfway.
//   perimo-users-writer FILE COUNT
// Prints "ready", waits for one byte on standard input, then saves COUNT users ("user0" with
// password "pass0", ...) with security on and prints "saved".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/paths.h"
#include "platform/text.h"
#include "security/users_file.h"

int main(int argc, char** argv) {
  namespace pf = perimo::platform;
  if (argc != 3) {
    std::fprintf(stderr, "usage: perimo-users-writer FILE COUNT\n");
    return 2;
  }
  perimo::UserList users;
  for (int i = 0; i < std::atoi(argv[2]); ++i) {
    const std::string n = std::to_string(i);
    users.push_back({pf::FromUtf8("user" + n), pf::FromUtf8("pass" + n), {1, 1, 1, 1, 1}});
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char go = 0;
  if (read(STDIN_FILENO, &go, 1) != 1) return 1;
  if (!perimo::SaveUsers(pf::ToWirePath(argv[1]), users, true)) return 1;
  std::printf("saved\n");
  return 0;
}
