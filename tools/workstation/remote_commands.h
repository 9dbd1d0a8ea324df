#pragma once
// The request/reply commands of a session other than file transfers: listings paged to the
// end, settings files, folders, the registry, the runtime and its tasks, the hand-over to
// the upgrade program. Each returns an Error whose kFailed message tells the agent's answer.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workstation/replies.h"
#include "workstation/session.h"

namespace perimo::workstation {

// 0x16 and 0x39: the sub-directories of path with their marks.
Error ListDirectories(Session& s, const std::string& path, std::vector<ListEntry>& out);
// 0x19 and 0x1A: project files (all files when all is set) under path, recursively, as
// names relative to path.
Error ListProjectFiles(Session& s, const std::string& path, bool all, std::vector<ListEntry>& out);
// 0x1B and 0x1C, 0x1D and 0x1E.
Error ListSystemFiles(Session& s, std::vector<ListEntry>& out);
Error ListDrives(Session& s, std::vector<ListEntry>& out);

Error ReadIni(Session& s, const std::string& file, const std::string& section,
              const std::string& key, const std::string& fallback, std::string& value);
Error WriteIni(Session& s, const std::string& file, const std::string& section,
               const std::string& key, const std::string& value);
// "Program Settings.INI" of the agent's settings folder (0x0A, 0x0B).
Error ReadSetting(Session& s, const std::string& section, const std::string& key,
                  const std::string& fallback, std::string& value);
Error WriteSetting(Session& s, const std::string& section, const std::string& key,
                   const std::string& value);

Error MakeDirectory(Session& s, const std::string& path);
Error RemoveDirectory(Session& s, const std::string& path);
Error DeleteFiles(Session& s, const std::string& pattern);
Error DirectoryExists(Session& s, const std::string& path, bool& exists);

// key is "ROOT\sub\key"; an empty name addresses the key's default value.
Error ReadRegistry(Session& s, const std::string& key, const std::string& name, std::string& value);
Error WriteRegistry(Session& s, const std::string& key, const std::string& name,
                    const std::string& value);

Error StartRuntime(Session& s);
Error StopRuntime(Session& s);
Error RuntimeRunning(Session& s, bool& running);
Error UpdateScreen(Session& s, const std::string& screen);
Error PostRuntimeMessage(Session& s, uint32_t message, uint32_t wParam, int32_t lParam);

Error StartTask(Session& s, const std::string& name, uint8_t& status);
Error StopTask(Session& s, const std::string& name, uint8_t& status);
Error QueryTasks(Session& s, const std::vector<std::string>& names, std::vector<uint8_t>& status);

// 0x3C: true in started when the agent started its upgrade program.
Error Upgrade(Session& s, bool& started);

Error ReadSystemInfo(Session& s, SystemInfo& info);
// 0x14 alone: the block size the agent works with.
Error ReadPackSize(Session& s, uint32_t& packSize);

}  // namespace perimo::workstation
