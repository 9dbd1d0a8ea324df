#include "protocol/data_protection_commands.h"

#include <vector>

#include "dataprot/data_protection.h"
#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/status_text.h"

namespace perimo {
namespace {

namespace pf = platform;
using dataprot::DataProtectionLibrary;

constexpr uint8_t kNakLibraryFailed = 0x44;  // 'D'

// The library for this request, initialised on the agent's folder; false (after the status
// line and 15 44) when it is missing or refuses.
bool InitializeLibrary(Request& request, DataProtectionLibrary& library) {
  const AgentState& agent = request.agent;
  library.Prepare(agent.paths.exeDir);
  if (library.Initialize(nullptr, agent.paths.exeDir) != 0) return true;
  agent.AddStatusLine(FormatStatusText(kTextDataProtectionInitError, {library.State()}));
  request.Reply({kNak, kNakLibraryFailed});
  return false;
}

}  // namespace

// Reply: 06 and the id; 8-bit: the low bytes, '\', 00; wide: UTF-16LE without terminator.
void GetProtectionDeviceId(Request& request) {
  auto& library = DataProtectionLibrary::Instance();
  if (!InitializeLibrary(request, library)) return;
  std::u16string id;
  if (!library.GetDeviceId(id)) id = u"127.0.0.1";
  const bool wide = request.agent.wideStrings;
  std::vector<uint8_t> reply{kAck};
  pf::AppendWireText(reply, id, wide);
  if (!wide) {
    reply.push_back('\\');
    reply.push_back(0x00);
  }
  request.Reply(reply);
}

// Reply: 06 and the library's result text (8-bit with a zero byte, or UTF-16LE without
// terminator); 15 44 when the password was not set.
void SetProtectionPassword(Request& request) {
  const AgentState& agent = request.agent;
  auto& library = DataProtectionLibrary::Instance();
  // Always 8-bit, whatever the connection's string width.
  const std::u16string password = pf::ReadWireName(request.Payload(), false).text;
  if (!InitializeLibrary(request, library)) return;
  std::u16string result;
  if (!library.SetPassword(password, result)) {
    const auto [first, second] = library.GetActiveFiles();
    agent.AddStatusLine(FormatStatusText(kTextDataProtectionSaveError, {first, second}));
    request.Reply({kNak, kNakLibraryFailed});
    return;
  }
  std::vector<uint8_t> reply{kAck};
  pf::AppendWireText(reply, result, agent.wideStrings);
  if (!agent.wideStrings) reply.push_back(0x00);
  request.Reply(reply);
}

}  // namespace perimo
