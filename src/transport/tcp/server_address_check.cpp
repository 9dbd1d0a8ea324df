#include "transport/tcp/server_address_check.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/machine_addresses.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/agent_state.h"

extern char** environ;

namespace perimo {

std::string FirstHostAddress() {
  const platform::MachineAddresses addresses = platform::CurrentMachineAddresses();
  return addresses.ipv4.empty() ? std::string() : addresses.ipv4.front();
}

bool NeedsAddressChange(std::u16string_view serverIp, std::string_view hostAddress) {
  if (serverIp.empty() || hostAddress.empty()) return false;
  if (platform::IsLoopbackOrUnspecified(hostAddress)) return false;
  return !platform::EqualsIgnoreCase(serverIp, platform::FromUtf8(hostAddress));
}

bool RunServerAddressCheck(const AgentState& agent) {
  std::u16string serverIp;
  platform::GetPrivateProfileString(u"ChangeIP", u"ServerIP", u"", serverIp, 256,
                                    agent.paths.exeDir + u"\\ChangeIP.INI");
  if (serverIp.empty()) return false;
  if (!NeedsAddressChange(serverIp, FirstHostAddress())) return false;
  const auto program = platform::ToNativePath(agent.paths.exeDir + u"\\ChangeIP.exe");
  if (!program) return false;
  char* argv[] = {const_cast<char*>(program->c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program->c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  // Not waited for; reaped in the background so that it leaves no zombie.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return true;
}

}  // namespace perimo
