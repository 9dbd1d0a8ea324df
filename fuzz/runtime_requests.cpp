// Feeds arbitrary request payloads to the runtime commands that parse names and fields (with
// no runtime window to find) and to the command-line splitter, checking the reply shapes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"
#include "protocol/agent_state.h"
#include "protocol/runtime_commands.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Link : perimo::Connection {
  std::vector<Bytes> replies;
};

int Record(perimo::Connection* connection, const uint8_t* bytes, int32_t count) {
  static_cast<Link*>(connection)->replies.emplace_back(bytes, bytes + count);
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = [] {
    // No window is ever found: every command takes its "runtime not running" path.
    setenv("PERIMO_WINDOWS_DIR", "/nonexistent/perimo-fuzz-windows", 1);
    return true;
  }();
  (void)once;
  if (size < 1) return 0;
  perimo::AgentState agent;
  agent.paths.exeDir = u"\\\\?\\unix\\nonexistent";
  agent.wideStrings = (data[0] & 0x80) != 0;
  static constexpr perimo::CommandHandler kHandlers[] = {
      perimo::UpdateScreen, perimo::PostRuntimeMessage, perimo::QueryTasks, perimo::StopTask};
  const auto handler = kHandlers[data[0] % 4];
  Bytes frame(data, data + size);
  Link link;
  perimo::Request request{agent, frame.data() + 1, static_cast<int32_t>(frame.size()), &link,
                          Record};
  handler(request);
  if (link.replies.size() != 1 || link.replies[0].empty()) std::abort();
  if (handler == perimo::QueryTasks) {
    const Bytes& reply = link.replies[0];
    if (reply.size() < 2 || reply.size() > 258) std::abort();
    for (size_t i = 2; i < reply.size(); ++i) {
      if (reply[i] != 0) std::abort();
    }
  }

  std::u16string line;
  for (size_t i = 1; i + 1 < size; i += 2)
    line.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  const auto words = perimo::platform::SplitCommandLine(line);
  size_t characters = 0;
  for (const auto& word : words) characters += word.size();
  if (characters > line.size()) std::abort();
  return 0;
}
