#include "protocol/command_table.h"

#include "protocol/data_protection_commands.h"
#include "protocol/directory_commands.h"
#include "protocol/file_transfer_commands.h"
#include "protocol/misc_commands.h"
#include "protocol/runtime_commands.h"
#include "protocol/security_commands.h"
#include "protocol/settings_commands.h"
#include "protocol/system_info_commands.h"
#include "protocol/upgrade_command.h"

namespace perimo {
namespace {

// 0x00, 0x3F-0x7F and 0x80-0xFF are handled by the dispatcher itself.
constexpr CommandTable BuildCommands() {
  CommandTable t{};
  t[0x01] = OpenDownload;
  t[0x02] = WriteBlock;
  t[0x03] = SharedHandler<CloseDownload, true>;
  t[0x04] = OpenUpload;
  t[0x05] = ReadBlock;
  t[0x06] = CloseUpload;
  t[0x07] = StartRuntimeCommand;
  t[0x08] = StopRuntime;
  t[0x09] = UpdateScreen;
  t[0x0A] = WriteProgramSetting;
  t[0x0B] = ReadProgramSetting;
  t[0x0C] = WriteIniValue;
  t[0x0D] = ReadIniValue;
  t[0x0E] = GetProjectsFolder;
  t[0x0F] = MakeDirectory;
  t[0x10] = RemoveDirectory;
  t[0x11] = PostRuntimeMessage;
  t[0x12] = FileExists;
  t[0x13] = GetOsVersion;
  t[0x14] = GetProductVersion;
  t[0x15] = DeleteFiles;
  t[0x16] = OpenDirectoryList;
  t[0x17] = NextDirectoryNames;
  t[0x18] = DirectoryExists;
  t[0x19] = OpenProjectList;
  t[0x1A] = NextProjectNames;
  t[0x1B] = OpenSystemFileList;
  t[0x1C] = NextSystemFileNames;
  t[0x1D] = OpenDriveList;
  t[0x1E] = NextDriveNames;
  t[0x1F] = IsViewerRunning;
  t[0x20] = UseWideStrings;
  t[0x21] = GetDiskSpace;
  t[0x22] = GetFileSize;
  t[0x23] = CloseWindow;
  t[0x24] = GetSecurityState;
  t[0x25] = Login;
  t[0x26] = IgnoreFrame;
  t[0x27] = IgnoreFrame;
  t[0x28] = IgnoreFrame;
  t[0x29] = AnswerOne;
  t[0x2A] = WriteRegistryValue;
  t[0x2B] = ReadRegistryValue;
  t[0x2C] = FlushBlocks;
  t[0x2D] = SharedHandler<OpenDownloadEx, true>;
  t[0x2E] = BufferBlock;
  t[0x2F] = AnswerAck;
  t[0x30] = IgnoreFrame;
  t[0x31] = StartTaskManager;
  t[0x32] = QueryTasks;
  t[0x33] = StopTask;
  t[0x34] = RegisterComponent;
  t[0x35] = FileDigest;
  t[0x36] = GetUserLocale;
  t[0x37] = SharedHandler<OpenDownloadEx, false>;
  t[0x38] = SharedHandler<CloseDownload, false>;
  t[0x39] = NextDirectoryEntries;
  t[0x3A] = GetDownloadLock;
  t[0x3B] = OpenSecureLink;
  t[0x3C] = Upgrade;
  t[0x3D] = GetProtectionDeviceId;
  t[0x3E] = SetProtectionPassword;
  return t;
}

constexpr CommandTable kCommands = BuildCommands();

}  // namespace

const CommandTable& Commands() {
  return kCommands;
}

}  // namespace perimo
