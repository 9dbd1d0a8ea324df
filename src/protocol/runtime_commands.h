#pragma once
// Runtime control: start and stop the HMI runtime, tell its viewer about screens and post it
// messages, drive its task manager through the shared task channel, register components and
// digest files. The runtime is reached only through its windows (by class or title), one
// named shared memory block and the programs beside the agent.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/request.h"

namespace perimo {

// Window messages the runtime understands.
constexpr uint32_t kMsgScreenUpdated = 1363;  // wParam 2, to the viewer
constexpr uint32_t kMsgBeforeClose = 1424;    // to the viewer ahead of each close request
constexpr uint32_t kMsgCloseRuntime = 1035;   // lParam 1, to the runtime's main window
constexpr uint32_t kMsgTask = 1037;           // wParam 0 start, 1 query, 2 stop; sent

inline constexpr char16_t kViewerClassEmbedded[] = u"WCE_VextraViewerClass";
inline constexpr char16_t kViewerClass[] = u"VextraViewerClass";
// 512 bytes: one zero-terminated UTF-16 task name of at most 255 characters.
inline constexpr char16_t kTaskChannelName[] = u"VextraManageTaskFileMapping";
constexpr size_t kTaskChannelBytes = 512;
constexpr size_t kMaxTaskNameChars = 255;

void StartRuntimeCommand(Request& request);  // 0x07
void StopRuntime(Request& request);          // 0x08
void UpdateScreen(Request& request);         // 0x09: 8-bit screen name
void PostRuntimeMessage(Request& request);   // 0x11: message TAB wParam TAB lParam
void StartTaskManager(Request& request);     // 0x31: task name
void QueryTasks(Request& request);           // 0x32: names, each ended by TAB
void StopTask(Request& request);             // 0x33: task name
void RegisterComponent(Request& request);    // 0x34: file path up to TAB
void FileDigest(Request& request);           // 0x35: file path up to TAB

// Starts the runtime on the configured project through "RunStartUp.EXE", with its status
// lines; no rights check and no reply. The status window's Start button uses it directly.
bool StartRuntime(const AgentState& agent);

// The class of the runtime's viewer window when one exists.
std::optional<std::u16string_view> FindViewerWindow();
// The title of the runtime's main window: the product title with version from "Program
// Settings.ini" beside the agent, or from "Viewer.ini" there when that file is missing.
std::u16string RuntimeMainWindowTitle(const AgentState& agent);

// A decimal number as the C runtime's atoi reads it: leading white space, an optional sign,
// digits up to the first other character; empty gives 0, overflow saturates.
int32_t ParseDecimal(std::u16string_view text);

}  // namespace perimo
