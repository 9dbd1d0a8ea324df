#include "protocol/runtime_commands.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shared_memory.h"
#include "platform/suite_folders.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "platform/window_endpoint.h"
#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/status_text.h"
#include "security/rights.h"
#include "security/sha1.h"

namespace perimo {
namespace {

namespace pf = platform;

constexpr uint8_t kNakEmptyOrMissingFile = 0x01;
constexpr uint8_t kNakRuntimeNotCreated = 0x0B;
constexpr uint8_t kNakRuntimeNotRunning = 0x0E;
constexpr uint8_t kNakRefused = 0x35;

constexpr uint32_t kTaskStart = 0;
constexpr uint32_t kTaskQuery = 1;
constexpr uint32_t kTaskStop = 2;

// Windows path buffers: 259 characters and a terminator.
constexpr size_t kMaxPathChars = 259;
// The runtime closes its main window within about ten seconds of the close request.
constexpr uint32_t kStopWaitMs = 10000;
constexpr uint32_t kStopPollMs = 1000;
// A sent message waits for the runtime's answer; a runtime that never answers must not hold
// the agent for good.
constexpr int kTaskAnswerTimeoutMs = 60000;

void Sleep(const AgentState& agent, uint32_t ms) {
  if (agent.pause) {
    agent.pause(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

std::u16string ProjectFile(const AgentState& agent) {
  std::u16string project;
  pf::GetPrivateProfileString(u"Application", u"Configuration", u"", project, kMaxPathChars + 1,
                              agent.paths.settingsDir + u"Program Settings.INI");
  return project;
}

bool RuntimeMainWindowExists(const std::u16string& title) {
  return pf::WindowExists(pf::WindowKey::kTitle, title);
}

// The viewer gets 1424 ahead of every close request, when it is there.
void PostBeforeClose() {
  if (const auto viewer = FindViewerWindow()) {
    pf::PostWindowMessage(pf::WindowKey::kClass, *viewer, kMsgBeforeClose, 0, 0);
  }
}

// Places the name in the task channel and sends the operation to the runtime's main window;
// the low byte of its answer, or 0 when the channel, the name or the answer fails.
uint8_t TaskOperation(pf::SharedMemory& channel, const std::u16string& title,
                      std::u16string_view name, uint32_t operation) {
  // A longer name would reach the runtime cut short, and so name another task.
  if (channel.data() == nullptr || name.size() > kMaxTaskNameChars) return 0;
  auto* slot = static_cast<char16_t*>(channel.data());
  std::memcpy(slot, name.data(), name.size() * sizeof(char16_t));
  slot[name.size()] = 0;
  const auto result = pf::SendWindowMessage(pf::WindowKey::kTitle, title, kMsgTask, operation, 0,
                                            kTaskAnswerTimeoutMs);
  return result ? static_cast<uint8_t>(*result & 0xFF) : 0;
}

uint8_t RunTaskOperation(const std::u16string& title, std::u16string_view name,
                         uint32_t operation) {
  pf::SharedMemory channel;
  channel.CreateOrOpen(kTaskChannelName, kTaskChannelBytes);
  return TaskOperation(channel, title, name, operation);
}

bool EndsWithIgnoreCase(std::u16string_view text, std::u16string_view suffix) {
  return text.size() >= suffix.size() &&
         pf::EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// The name up to TAB: empty gives "Invalid file name.", a name that is not a file gives
// "Cannot find file %1."; both reply 15 01.
std::optional<std::u16string> ExistingFileName(Request& request) {
  AgentState& agent = request.agent;
  std::u16string name = pf::ReadWireName(request.Payload(), agent.wideStrings, true).text;
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    request.Reply({kNak, kNakEmptyOrMissingFile});
    return std::nullopt;
  }
  if (!pf::IsFile(name)) {
    agent.AddStatusLine(StatusText(kTextCannotFindFile, name));
    request.Reply({kNak, kNakEmptyOrMissingFile});
    return std::nullopt;
  }
  return name;
}

// The component's "DllRegisterServer": zero is success.
bool CallRegisterServer(std::u16string_view path) {
  pf::DynamicLibrary library;
  if (!library.Load(path, {})) return false;
  using RegisterFn = int32_t (*)();
  const auto entry = library.Entry<RegisterFn>("DllRegisterServer");
  return entry != nullptr && entry() == 0;
}

}  // namespace

std::optional<std::u16string_view> FindViewerWindow() {
  for (const char16_t* windowClass : {kViewerClassEmbedded, kViewerClass}) {
    if (pf::WindowExists(pf::WindowKey::kClass, windowClass)) return windowClass;
  }
  return std::nullopt;
}

std::u16string RuntimeMainWindowTitle(const AgentState& agent) {
  std::u16string file = agent.paths.exeDir + u"\\Program Settings.ini";
  if (!pf::IsFile(file)) file = agent.paths.exeDir + u"\\Viewer.ini";
  std::u16string title = pf::ReadProductTitle(file, true);
  if (title.size() > kMaxPathChars) title.resize(kMaxPathChars);
  return title;
}

int32_t ParseDecimal(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool StartRuntime(const AgentState& agent) {
  const std::u16string project = ProjectFile(agent);
  std::u16string commandLine = u"\"" + agent.paths.exeDir + u"\\RunStartUp.EXE\"";
  if (!project.empty()) commandLine += u" \"" + project + u"\"";
  const auto pid = pf::CreateProcess({}, commandLine, pf::PathScope::kAgent);
  if (!pid) {
    agent.AddStatusLine(StatusText(kTextCannotStartRuntime));
    return false;
  }
  pf::ReleaseProcess(*pid);
  agent.AddStatusLine(StatusText(kTextRuntimeStarted) + u" (" + project + u")");
  agent.AddStatusLine(agent.paths.settingsDir + u"Program Settings.INI");
  return true;
}

// Reply: 06; 15 35 without the runStop right; 15 0B when the process was not created.
void StartRuntimeCommand(Request& request) {
  const AgentState& agent = request.agent;
  if (MayRunStop(agent.login) == 0) {
    agent.AddStatusLine(StatusText(kTextCannotStartRuntime));
    request.Reply({kNak, kNakRefused});
    return;
  }
  if (StartRuntime(agent)) {
    request.Reply({kAck});
  } else {
    request.Reply({kNak, kNakRuntimeNotCreated});
  }
}

// Close requests are repeated once a second for up to ten seconds, until the runtime's main
// window is gone. Reply 06 either way.
void StopRuntime(Request& request) {
  const AgentState& agent = request.agent;
  if (MayRunStop(agent.login) == 0) {
    agent.AddStatusLine(StatusText(kTextRuntimeNotStarted));
    request.Reply({kNak, kNakRefused});
    return;
  }
  const std::u16string title = RuntimeMainWindowTitle(agent);
  PostBeforeClose();
  if (!RuntimeMainWindowExists(title)) {
    agent.AddStatusLine(StatusText(kTextRuntimeNotStarted));
    request.Reply({kAck});
    return;
  }
  pf::PostWindowMessage(pf::WindowKey::kTitle, title, kMsgCloseRuntime, 0, 1);
  const uint32_t start = pf::GetTickCount();
  for (;;) {
    const uint32_t now = pf::GetTickCount();
    if (now < start || now - start >= kStopWaitMs) break;
    Sleep(agent, kStopPollMs);
    PostBeforeClose();
    if (!RuntimeMainWindowExists(title)) break;
    pf::PostWindowMessage(pf::WindowKey::kTitle, title, kMsgCloseRuntime, 0, 1);
  }
  agent.AddStatusLine(StatusText(kTextRuntimeStopped));
  request.Reply({kAck});
}

void UpdateScreen(Request& request) {
  const AgentState& agent = request.agent;
  const auto viewer = FindViewerWindow();
  if (!viewer) {
    request.Reply({kAck});
    return;
  }
  pf::PostWindowMessage(pf::WindowKey::kClass, *viewer, kMsgScreenUpdated, 2, 0);
  // Always 8-bit, whatever the connection's string width.
  const std::u16string screen = pf::ReadWireName(request.Payload(), false).text;
  agent.AddStatusLine(StatusText(kTextScreenUpdated, screen));
  request.Reply({kAck});
}

// Reply: 06, or 15 0E when the viewer is not running.
void PostRuntimeMessage(Request& request) {
  const AgentState& agent = request.agent;
  const auto viewer = FindViewerWindow();
  if (!viewer) {
    agent.AddStatusLine(StatusText(kTextRuntimeNotStarted));
    request.Reply({kNak, kNakRuntimeNotRunning});
    return;
  }
  const auto fields = pf::ReadTabFields(request.Payload(), agent.wideStrings, 3);
  const auto message = static_cast<uint32_t>(ParseDecimal(fields[0]));
  const auto wParam = static_cast<uint32_t>(ParseDecimal(fields[1]));
  const int32_t lParam = ParseDecimal(fields[2]);
  pf::PostWindowMessage(pf::WindowKey::kClass, *viewer, message, wParam, lParam);
  agent.AddStatusLine(FormatStatusText(kTextPostMessage, {message, wParam, lParam}));
  request.Reply({kAck});
}

// Reply: 06 s. Without the runtime, "Kalder Manager.EXE" is started on the task's library
// instead: s is 1 when it started.
void StartTaskManager(Request& request) {
  const AgentState& agent = request.agent;
  const std::u16string name = pf::ReadWireName(request.Payload(), agent.wideStrings).text;
  const std::u16string title = RuntimeMainWindowTitle(agent);
  if (RuntimeMainWindowExists(title)) {
    request.Reply({kAck, RunTaskOperation(title, name, kTaskStart)});
    return;
  }
  // A quote cannot be part of a file name; in the quoted argument it would split it in two.
  if (name.find(u'"') != std::u16string::npos) {
    request.Reply({kAck, 0});
    return;
  }
  const std::u16string program = agent.paths.exeDir + u"\\Kalder Manager.EXE";
  const std::u16string commandLine = u"\"" + agent.paths.exeDir + u"\\" + name + u".DLL\"";
  const auto pid = pf::CreateProcess(program, commandLine, pf::PathScope::kAgent);
  if (pid) pf::ReleaseProcess(*pid);
  request.Reply({kAck, static_cast<uint8_t>(pid ? 1 : 0)});
}

// Reply: 06, n modulo 256, then the statuses of the first min(n, 256) names. Each name is
// ended by a TAB; what follows the last TAB is not a name.
void QueryTasks(Request& request) {
  const AgentState& agent = request.agent;
  std::vector<std::u16string> names;
  std::u16string current;
  const auto payload = request.Payload();
  const size_t width = agent.wideStrings ? 2 : 1;
  for (size_t i = 0; i + width <= payload.size(); i += width) {
    const char16_t c = agent.wideStrings ? static_cast<char16_t>(pf::LoadU16(&payload[i]))
                                         : static_cast<char16_t>(payload[i]);
    if (c == u'\t') {
      names.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  std::vector<uint8_t> statuses(names.size(), 0);
  const std::u16string title = RuntimeMainWindowTitle(agent);
  if (!names.empty() && RuntimeMainWindowExists(title)) {
    pf::SharedMemory channel;
    if (channel.CreateOrOpen(kTaskChannelName, kTaskChannelBytes)) {
      for (size_t i = 0; i < names.size(); ++i) {
        // A zero character ends the name the runtime reads.
        std::u16string_view name = names[i];
        name = name.substr(0, name.find(u'\0'));
        statuses[i] = TaskOperation(channel, title, name, kTaskQuery);
      }
    }
  }
  const size_t shown = std::min<size_t>(names.size(), 256);
  std::vector<uint8_t> reply{kAck, static_cast<uint8_t>(names.size() & 0xFF)};
  reply.insert(reply.end(), statuses.begin(), statuses.begin() + static_cast<ptrdiff_t>(shown));
  request.Reply(reply);
}

// Reply: 06 s; 06 00 when the runtime is not running.
void StopTask(Request& request) {
  const AgentState& agent = request.agent;
  const std::u16string name = pf::ReadWireName(request.Payload(), agent.wideStrings).text;
  const std::u16string title = RuntimeMainWindowTitle(agent);
  if (!RuntimeMainWindowExists(title)) {
    agent.AddStatusLine(StatusText(kTextRuntimeNotStarted));
    request.Reply({kAck, 0});
    return;
  }
  request.Reply({kAck, RunTaskOperation(title, name, kTaskStop)});
}

// Reply: 06 '1' when registered, 06 '0' otherwise; 15 01 for an empty or missing file.
void RegisterComponent(Request& request) {
  const AgentState& agent = request.agent;
  const auto name = ExistingFileName(request);
  if (!name) return;
  uint8_t status = '0';
  if (name->size() > 4 &&
      (EndsWithIgnoreCase(*name, u".DLL") || EndsWithIgnoreCase(*name, u".OCX"))) {
    if (CallRegisterServer(*name)) {
      agent.AddStatusLine(StatusText(kTextRegisteredFile, *name));
      status = '1';
    }
  }
  if (pf::ToUpper(*name).find(u"\\QUASERVER.EXE") != std::u16string::npos) {
    if (const auto pid = pf::CreateProcess(*name, u" /RegServer")) {
      agent.AddStatusLine(StatusText(kTextRegisteredFile, *name));
      status = '1';
      // A registration program that hangs must not freeze the agent: wait a bounded time.
      const int32_t seconds = agent.settings.registerWait;
      const int timeoutMs = seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
      if (pf::WaitForProcess(*pid, timeoutMs) != pf::WaitResult::kEnded) {
        pf::ReleaseProcess(*pid);
        agent.AddStatusLine(FormatStatusText(kTextRegisterServerNotEnded, {*name, seconds}));
      }
    }
  }
  request.Reply({kAck, status});
}

// Reply: 06 and the 20 bytes of the file's SHA-1 (zero when it cannot be read); 15 01 for an
// empty or missing file. The name is taken as given, relative to the current folder.
void FileDigest(Request& request) {
  const auto name = ExistingFileName(request);
  if (!name) return;
  std::vector<uint8_t> reply{kAck};
  CSHA1 sha1;
  const auto native = pf::ToNativePath(*name);
  if (native && sha1.HashFile(*native)) {
    reply.insert(reply.end(), sha1.GetHash().begin(), sha1.GetHash().end());
  } else {
    reply.resize(1 + CSHA1::kDigestSize, 0);
  }
  request.Reply(reply);
}

}  // namespace perimo
