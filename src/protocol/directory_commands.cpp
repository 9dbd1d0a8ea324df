#include "protocol/directory_commands.h"

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/find_files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tree_walk.h"
#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/name_list.h"
#include "protocol/reject.h"
#include "protocol/status_text.h"
#include "security/rights.h"

namespace perimo {
namespace {

namespace pf = platform;

constexpr uint8_t kNakEmptyName = 0x01;
constexpr uint8_t kNakBadDirectory = 0x10;

std::u16string Name(const Request& request, size_t skip = 0) {
  const auto payload = request.Payload();
  return pf::ReadWireName(payload.subspan(std::min(skip, payload.size())),
                          request.agent.wideStrings)
      .text;
}

std::u16string Resolved(const Request& request, std::u16string_view name) {
  return pf::ResolveTargetPath(name, request.agent.paths.exeDir);
}

bool IsDotName(std::u16string_view name) {
  return name == u"." || name == u"..";
}

std::u16string_view WithoutTrailingSeparator(std::u16string_view path) {
  if (!path.empty() && pf::IsSeparator(path.back())) path.remove_suffix(1);
  return path;
}

// 06, the count as decimal digits, 00.
void ReplyCount(const Request& request, size_t count) {
  std::vector<uint8_t> reply{kAck};
  for (char c : std::to_string(count)) reply.push_back(static_cast<uint8_t>(c));
  reply.push_back(0x00);
  request.Reply(reply);
}

void SendPage(Request& request, PageForm form, int textId, const NameTimeLookup& lookup = {}) {
  AgentState& agent = request.agent;
  const Page page = NextPage(agent.nameList, form, agent.wideStrings, lookup);
  if (!page.sent.empty()) agent.AddStatusLine(PageStatusLine(page, textId));
  request.Reply(page.bytes);
}

std::optional<pf::FileTime> WriteTime(std::u16string_view wirePath) {
  const auto times = pf::GetFileTimes(wirePath);
  if (!times) return std::nullopt;
  return times->write;
}

bool HasSubFolder(std::u16string_view folder) {
  for (const pf::FindEntry& entry : pf::FindFiles(std::u16string(folder) + u"\\*.*")) {
    if ((entry.attributes & pf::kAttrDirectory) && !IsDotName(entry.name)) return true;
  }
  return false;
}

bool SkippedEverywhere(std::u16string_view name) {
  return pf::EqualsIgnoreCase(name, u"Bin") || pf::EqualsIgnoreCase(name, u"Drv");
}

bool SkippedAtTop(std::u16string_view name) {
  return SkippedEverywhere(name) || pf::EqualsIgnoreCase(name, u"Hst") ||
         pf::EqualsIgnoreCase(name, u"Alarm");
}

bool IsWindowsFolder(std::u16string_view path) {
  return pf::EqualsIgnoreCase(path, u"\\Windows") || pf::EqualsIgnoreCase(path, u"\\Windows\\");
}

}  // namespace

void DeleteFiles(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string name = Name(request);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidFileName));
    request.Reply({kNak, kNakEmptyName});
    return;
  }
  const std::u16string path = Resolved(request, name);
  if (RightForPath(agent.login, agent.paths.exeDir, path) == 0) {
    RejectFrame(agent, request.connection, request.reply);
    return;
  }
  size_t cut = path.size();
  while (cut > 0 && !pf::IsSeparator(path[cut - 1])) --cut;
  const std::u16string folder = path.substr(0, cut);
  // Folders are never removed, whatever the pattern matches.
  for (const pf::FindEntry& entry : pf::FindFiles(path)) {
    if (IsDotName(entry.name) || (entry.attributes & pf::kAttrDirectory)) continue;
    pf::DeleteFile(folder + entry.name);
  }
  agent.AddStatusLine(StatusText(kTextFilesRemoved, name));
  request.Reply({kAck});
}

void OpenDirectoryList(Request& request) {
  AgentState& agent = request.agent;
  NameList& list = agent.nameList;
  list.Restart();
  list.marks.clear();
  const std::u16string name = Name(request);
  if (name.empty()) {
    agent.AddStatusLine(StatusText(kTextInvalidDirectoryName));
    request.Reply({kNak, kNakBadDirectory});
    return;
  }
  const std::u16string folder(WithoutTrailingSeparator(Resolved(request, name)));
  for (const pf::FindEntry& entry : pf::FindFiles(folder + u"\\*.*")) {
    if (!(entry.attributes & pf::kAttrDirectory) || IsDotName(entry.name)) continue;
    if (entry.name.size() > kMaxListedNameChars) continue;
    list.names.push_back(entry.name);
    list.marks.push_back(HasSubFolder(folder + u"\\" + entry.name) ? 1 : 0);
  }
  agent.AddStatusLine(
      StatusText(kTextAvailableDirectories, pf::FromUtf8(std::to_string(list.names.size()))));
  ReplyCount(request, list.names.size());
}

void OpenProjectList(Request& request) {
  AgentState& agent = request.agent;
  NameList& list = agent.nameList;
  list.Restart();
  const auto payload = request.Payload();
  // The flag is one byte in either string width.
  const bool flagged = !payload.empty() && (payload[0] == '0' || payload[0] == '1');
  const bool allFiles = flagged && payload[0] == '1';
  const std::u16string name = Name(request, flagged ? 1 : 0);
  if (name.empty() || IsWindowsFolder(name)) {
    agent.AddStatusLine(StatusText(kTextInvalidDirectoryName));
    request.Reply({kNak, kNakBadDirectory});
    return;
  }
  const std::u16string folder(WithoutTrailingSeparator(Resolved(request, name)));
  list.baseFolder = folder + u"\\";
  const auto native = pf::ToNativePath(list.baseFolder);
  list.nativeBase = native.value_or(std::string());
  const bool walked =
      native && pf::WalkTree(*native, [&](const pf::TreeEntry& entry) {
        if (entry.relative.size() > kMaxListedNameChars) return false;
        if (entry.depth == 0) {
          if (!allFiles && SkippedAtTop(entry.name)) return false;
          if (entry.directory) return true;
          if (allFiles || pf::ToUpper(entry.name).find(u".APP") != std::u16string::npos) {
            list.names.emplace_back(entry.name);
          }
          return false;
        }
        if (SkippedEverywhere(entry.name)) return false;
        if (!entry.directory) list.names.emplace_back(entry.relative);
        return entry.directory;
      });
  if (!walked) {
    agent.AddStatusLine(StatusText(kTextAvailableDirectories, u"0"));
    ReplyCount(request, 0);
    return;
  }
  agent.AddStatusLine(
      StatusText(kTextSendingFileName, pf::FromUtf8(std::to_string(list.names.size()))));
  ReplyCount(request, list.names.size());
}

void OpenSystemFileList(Request& request) {
  AgentState& agent = request.agent;
  NameList& list = agent.nameList;
  list.Restart();
  // Names keep the case of these folders, whatever the case on disk.
  static constexpr std::u16string_view kFolders[] = {u"Bin\\", u"Drv\\", u"Drv\\API\\",
                                                     u"BIN\\de-DE\\"};
  for (std::u16string_view folder : kFolders) {
    const std::u16string pattern = Resolved(request, std::u16string(folder) + u"*.*");
    for (const pf::FindEntry& entry : pf::FindFiles(pattern)) {
      if ((entry.attributes & pf::kAttrDirectory) || IsDotName(entry.name)) continue;
      std::u16string listed = std::u16string(folder) + entry.name;
      if (listed.size() <= kMaxListedNameChars) list.names.push_back(std::move(listed));
    }
  }
  agent.AddStatusLine(
      StatusText(kTextSendingFileName, pf::FromUtf8(std::to_string(list.names.size()))));
  ReplyCount(request, list.names.size());
}

void OpenDriveList(Request& request) {
  AgentState& agent = request.agent;
  NameList& list = agent.nameList;
  list.Restart();
  // A drive exists when the drive map names it and its folder is there.
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    const std::u16string drive{letter, u':'};
    if (pf::IsDirectory(drive + u"\\")) list.names.push_back(drive);
  }
  agent.AddStatusLine(
      StatusText(kTextAvailableDirectories, pf::FromUtf8(std::to_string(list.names.size()))));
  ReplyCount(request, list.names.size());
}

void NextDirectoryNames(Request& request) {
  SendPage(request, PageForm::kName, kTextSendingDirectoryName);
}

void NextDriveNames(Request& request) {
  SendPage(request, PageForm::kName, kTextSendingDirectoryName);
}

void NextDirectoryEntries(Request& request) {
  SendPage(request, PageForm::kMarked, kTextSendingDirectoryName);
}

void NextProjectNames(Request& request) {
  const NameList& list = request.agent.nameList;
  // The names come from the walk below the base folder in their native spelling: look them
  // up where the walk found them instead of resolving every name again.
  SendPage(request, PageForm::kTimed, kTextSendingFileName, [&](const std::u16string& name) {
    if (list.nativeBase.empty()) return WriteTime(list.baseFolder + name);
    std::u16string relative = name;
    for (char16_t& c : relative) {
      if (c == u'\\') c = u'/';
    }
    const auto info = pf::StatNative(list.nativeBase + pf::ToUtf8(relative));
    return info ? std::optional<pf::FileTime>(info->times.write) : std::nullopt;
  });
}

void NextSystemFileNames(Request& request) {
  const AgentState& agent = request.agent;
  SendPage(request, PageForm::kTimed, kTextSendingFileName, [&](const std::u16string& name) {
    return WriteTime(pf::ResolveTargetPath(name, agent.paths.exeDir));
  });
}

}  // namespace perimo
