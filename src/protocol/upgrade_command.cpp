#include "protocol/upgrade_command.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/window_endpoint.h"
#include "protocol/agent_state.h"

namespace perimo {
namespace {

constexpr uint32_t kHandOverPauseMs = 1000;
// The agent's own main window, where WM_CLOSE ends it through its normal exit.
constexpr char16_t kAgentWindowClass[] = u"PerimoClass";

}  // namespace

std::u16string UpgradeCommandLine(int pid, std::u16string_view exeDir) {
  return u"/PID " + platform::Ascii(std::to_string(pid)) + u" /Perimo \"" + std::u16string(exeDir) +
         u"\"";
}

void Upgrade(Request& request) {
  const AgentState& agent = request.agent;
  const auto pid = platform::CreateProcess(agent.paths.exeDir + u"\\UPGRADE.EXE",
                                           UpgradeCommandLine(getpid(), agent.paths.exeDir),
                                           platform::PathScope::kAgent);
  if (pid) platform::ReleaseProcess(*pid);
  // Gives the upgrade program time to take note of the agent before it closes.
  std::this_thread::sleep_for(std::chrono::milliseconds(kHandOverPauseMs));
  if (!pid) {
    request.Reply({kAck, '0'});
    return;
  }
  request.Reply({kAck, '1'});
  // Served by the event loop after this frame, like a posted window message.
  platform::PostWindowMessage(platform::WindowKey::kClass, kAgentWindowClass, platform::kWmClose, 0,
                              0);
}

}  // namespace perimo
