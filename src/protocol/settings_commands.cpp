#include "protocol/settings_commands.h"

#include <cerrno>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/suite_folders.h"
#include "platform/text.h"
#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/reject.h"
#include "protocol/status_text.h"
#include "security/rights.h"

namespace perimo {
namespace {

namespace pf = platform;

constexpr uint8_t kNakEmptyName = 0x01;
constexpr uint8_t kNakNotFound = 0x05;
constexpr uint8_t kNakCannotMakeOrRemove = 0x0F;
constexpr uint8_t kNakBadDirectory = 0x10;

constexpr std::u16string_view kProgramSettings = u"Program Settings.INI";
// Profile values travel in buffers of 255 characters: at most 254 and a terminator.
constexpr uint32_t kValueBufferChars = 255;
// Windows path buffers hold 260 characters with the terminator.
constexpr size_t kMaxPathChars = 259;

std::vector<std::u16string> Fields(const Request& request, size_t count) {
  // A zero character ends a field's text, as it ends the C string the value becomes.
  return pf::ReadTabFieldsZeroEnds(request.Payload(), request.agent.wideStrings, count);
}

std::u16string Name(const Request& request) {
  return pf::ReadWireName(request.Payload(), request.agent.wideStrings).text;
}

// 06, the text, a zero character: as 16-bit units while wide strings are on, else low bytes.
void ReplyText(const Request& request, std::u16string_view text) {
  std::vector<uint8_t> reply{kAck};
  pf::AppendWireText(reply, text, request.agent.wideStrings);
  pf::AppendWireZero(reply, request.agent.wideStrings);
  request.Reply(reply);
}

std::u16string ReadValue(std::u16string_view section, std::u16string_view key,
                         std::u16string_view defaultValue, std::u16string_view file) {
  std::u16string value;
  pf::GetPrivateProfileString(section, key, defaultValue, value, kValueBufferChars, file);
  return value;
}

bool HasWildcard(std::u16string_view path) {
  return path.find_first_of(u"*?") != std::u16string_view::npos;
}

// Creates every missing folder of the path; the result is that of the last creation tried.
bool CreateDirectoryPath(const std::u16string& path, int& lastError) {
  bool created = false;
  lastError = 0;
  auto attempt = [&](std::u16string_view folder) {
    if (pf::IsDirectory(folder)) return;
    errno = 0;
    created = pf::CreateDirectory(folder);
    lastError = created ? 0 : errno;
  };
  size_t first = 0;
  while (first < path.size() && !pf::IsSeparator(path[first])) ++first;
  for (size_t i = first + 1; i < path.size(); ++i) {
    if (pf::IsSeparator(path[i])) attempt(std::u16string_view(path).substr(0, i));
  }
  attempt(path);
  return created;
}

}  // namespace

// The projects folder of the suite this agent belongs to, as the agent's own folder names it.
std::u16string SuiteProjectsFolder(const AgentState& agent) {
  pf::SuiteFolderSources sources = pf::SuiteFolderSources::FromSystem();
  sources.exeFolder = pf::ToNativePath(agent.paths.exeDir).value_or(sources.exeFolder);
  std::u16string folder = pf::GetSuiteFolder(sources, pf::kSuiteProjectsFolder);
  if (folder.size() > kMaxPathChars) folder.resize(kMaxPathChars);
  return folder;
}

void WriteProgramSetting(Request& request) {
  const auto fields = Fields(request, 3);
  const std::u16string file = request.agent.paths.settingsDir + std::u16string(kProgramSettings);
  if (file.size() <= kMaxPathChars) {
    pf::WritePrivateProfileString(fields[0], fields[1], fields[2], file);
  }
  request.Reply({kAck});
}

void ReadProgramSetting(Request& request) {
  const AgentState& agent = request.agent;
  const auto fields = Fields(request, 3);
  std::u16string value;
  bool found = false;
  if (!agent.paths.settingsDir.empty()) {
    const std::u16string file = agent.paths.settingsDir + std::u16string(kProgramSettings);
    // Two reads with different defaults tell an absent key from an empty value.
    value = ReadValue(fields[0], fields[1], u"", file);
    found = value == ReadValue(fields[0], fields[1], u"X", file);
  }
  if (!found) {
    const std::u16string file = agent.paths.exeDir + u"\\" + std::u16string(kProgramSettings);
    value = ReadValue(fields[0], fields[1], fields[2], file);
  }
  ReplyText(request, value);
}

void WriteIniValue(Request& request) {
  const auto fields = Fields(request, 4);
  if (!fields[0].empty()) pf::WritePrivateProfileString(fields[1], fields[2], fields[3], fields[0]);
  request.Reply({kAck});
}

void ReadIniValue(Request& request) {
  const auto fields = Fields(request, 4);
  std::u16string value = fields[3];
  if (!fields[0].empty()) value = ReadValue(fields[1], fields[2], fields[3], fields[0]);
  if (value.size() >= kValueBufferChars) value.resize(kValueBufferChars - 1);
  ReplyText(request, value);
}

// Reply: 06 and the folder; 16-bit units without terminator, or low bytes, '\' and a zero.
void GetProjectsFolder(Request& request) {
  AgentState& agent = request.agent;
  agent.paths.projectsDir = SuiteProjectsFolder(agent);
  std::vector<uint8_t> reply{kAck};
  pf::AppendWireText(reply, agent.paths.projectsDir, agent.wideStrings);
  if (!agent.wideStrings) {
    reply.push_back('\\');
    reply.push_back(0x00);
  }
  request.Reply(reply);
}

void MakeDirectory(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string name = Name(request);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidDirectoryName));
    request.Reply({kNak, kNakBadDirectory});
    return;
  }
  const std::u16string path = pf::ResolveTargetPath(name, agent.paths.exeDir);
  bool created = pf::PathExists(path);
  int lastError = 0;
  if (!created) {
    // Longer paths would not fit the folder buffer; cutting them would make another folder.
    if (path.size() > kMaxPathChars) {
      lastError = ENAMETOOLONG;
    } else {
      created = CreateDirectoryPath(path, lastError);
    }
  }
  if (!created && lastError != EEXIST) {
    if (!HasWildcard(path) && pf::IsDirectory(path)) {
      request.Reply({kAck});
      return;
    }
    agent.AddStatusLine(StatusText(kTextCannotCreateDirectory, path));
    request.Reply({kNak, kNakCannotMakeOrRemove});
    return;
  }
  agent.AddStatusLine(StatusText(kTextDirectoryCreated, path));
  request.Reply({kAck});
}

void RemoveDirectory(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string name = Name(request);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidDirectoryName));
    request.Reply({kNak, kNakBadDirectory});
    return;
  }
  if (RightForPath(agent.login, agent.paths.exeDir, name) == 0) {
    RejectFrame(agent, request.connection, request.reply);
    return;
  }
  if (pf::RemoveDirectory(name)) {
    agent.AddStatusLine(StatusText(kTextDirectoryRemoved, name));
    request.Reply({kAck});
  } else {
    agent.AddStatusLine(StatusText(kTextCannotRemoveDirectory, name));
    request.Reply({kNak, kNakCannotMakeOrRemove});
  }
}

void FileExists(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string name = Name(request);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    request.Reply({kNak, kNakEmptyName});
    return;
  }
  if (pf::IsFile(name)) {
    request.Reply({kAck});
    return;
  }
  agent.AddStatusLine(StatusText(kTextCannotFindFile, name));
  request.Reply({kNak, kNakNotFound});
}

void DirectoryExists(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string name = Name(request);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidDirectoryName));
    request.Reply({kNak, kNakBadDirectory});
    return;
  }
  std::u16string_view path = name;
  if (pf::IsDirectory(path) ||
      (path.back() == u'\\' && pf::IsDirectory(path.substr(0, path.size() - 1)))) {
    request.Reply({kAck});
    return;
  }
  agent.AddStatusLine(StatusText(kTextCannotFindDirectory, name));
  request.Reply({kNak, kNakBadDirectory});
}

}  // namespace perimo
