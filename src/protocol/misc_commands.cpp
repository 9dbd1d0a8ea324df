#include "protocol/misc_commands.h"

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/suite_folders.h"
#include "platform/window_endpoint.h"
#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/status_text.h"

namespace perimo {
namespace {

namespace pf = platform;

constexpr uint8_t kNakEmptyName = 0x01;
constexpr uint8_t kRegistryDone = '0';
constexpr uint8_t kRegistryUnknownRoot = '1';
constexpr uint8_t kRegistryFailed = '2';

std::u16string Name(const Request& request) {
  return pf::ReadWireName(request.Payload(), request.agent.wideStrings).text;
}

// Sub-key, then '\' and the continuation when there is one.
std::u16string KeyPath(const std::vector<std::u16string>& fields) {
  return fields[2].empty() ? fields[1] : fields[1] + u"\\" + fields[2];
}

pf::RegistryStore* OpenRegistry(AgentState& agent) {
  if (!agent.registry.IsOpen() && !agent.registry.OpenDefault()) return nullptr;
  return &agent.registry;
}

}  // namespace

void IsViewerRunning(Request& request) {
  const AgentState& agent = request.agent;
  std::u16string settings = agent.paths.exeDir + u"\\Program Settings.ini";
  if (!pf::IsFile(settings)) settings = agent.paths.exeDir + u"\\Viewer.ini";
  const std::u16string title = pf::ReadProductTitle(settings, true);
  const bool running = pf::WindowExists(pf::WindowKey::kClass, title);
  request.Reply({kAck, static_cast<uint8_t>(running ? 1 : 0)});
}

void UseWideStrings(Request& request) {
  request.agent.wideStrings = true;
  request.Reply({kAck});
}

void GetDiskSpace(Request& request) {
  const auto free = pf::FreeDiskSpace(request.agent.paths.exeDir + u"\\");
  const uint64_t value = free.value_or(UINT64_MAX);
  std::vector<uint8_t> reply{kAck};
  pf::AppendU64(reply, value);
  pf::AppendU64(reply, value);
  request.Reply(reply);
}

void GetFileSize(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string name = Name(request);
  const std::u16string path = pf::ResolveTargetPath(name, agent.paths.exeDir);
  const auto size = name.empty() || !pf::IsFile(path) ? std::nullopt : pf::GetFileSize(path);
  if (!size) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    request.Reply({kNak, kNakEmptyName});
    return;
  }
  std::vector<uint8_t> reply{kAck};
  pf::AppendU32(reply, static_cast<uint32_t>(*size));
  request.Reply(reply);
}

void CloseWindow(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string title = Name(request);
  if (!title.empty()) pf::PostWindowMessage(pf::WindowKey::kTitle, title, pf::kWmClose, 0, 0);
  agent.AddStatusLine(FormatStatusText(kTextWindowStopped, {title}));
  request.Reply({kAck});
}

void IgnoreFrame(Request& /*request*/) {}

void AnswerOne(Request& request) {
  request.Reply({kAck, '1'});
}

void AnswerAck(Request& request) {
  request.Reply({kAck});
}

void WriteRegistryValue(Request& request) {
  AgentState& agent = request.agent;
  const auto fields = pf::ReadTabFieldsZeroEnds(request.Payload(), agent.wideStrings, 5);
  const auto root = pf::RegistryRootByName(fields[0]);
  if (!root) {
    request.Reply({kAck, kRegistryUnknownRoot});
    return;
  }
  pf::RegistryStore* store = OpenRegistry(agent);
  const bool stored = store && store->SetString(*root, KeyPath(fields), fields[3], fields[4]);
  request.Reply({kAck, stored ? kRegistryDone : kRegistryFailed});
}

void ReadRegistryValue(Request& request) {
  AgentState& agent = request.agent;
  const bool wide = agent.wideStrings;
  const auto fields = pf::ReadTabFieldsZeroEnds(request.Payload(), wide, 4);
  const auto root = pf::RegistryRootByName(fields[0]);
  if (!root) {
    request.Reply({kAck, kRegistryUnknownRoot});
    return;
  }
  pf::RegistryStore* store = OpenRegistry(agent);
  auto value = store ? store->GetString(*root, KeyPath(fields), fields[3]) : std::nullopt;
  if (!value) {
    request.Reply({kAck, kRegistryFailed});
    return;
  }
  // The value is a C string: it ends at its first zero character.
  const size_t zero = value->find(u'\0');
  if (zero != std::u16string::npos) value->resize(zero);
  if (value->size() > kMaxRegistryValueChars) value->resize(kMaxRegistryValueChars);
  std::vector<uint8_t> reply{kAck, kRegistryDone};
  pf::AppendWireText(reply, *value, wide);
  pf::AppendWireZero(reply, wide);
  // The wide reply carries a second zero character after the terminator.
  if (wide) pf::AppendWireZero(reply, wide);
  request.Reply(reply);
}

}  // namespace perimo
