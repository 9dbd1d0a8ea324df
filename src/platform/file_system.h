#pragma once
// File-system operations on wire paths, with Windows meanings. Failures leave errno set;
// FileErrorCause turns it into the cause the workstation is told.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_time.h"

namespace perimo::platform {

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

struct FileTimes {
  FileTime creation = 0;  // birth time, or the modification time where there is none
  FileTime access = 0;
  FileTime write = 0;
};

bool IsFile(std::u16string_view wirePath);       // exists and is not a directory
bool IsDirectory(std::u16string_view wirePath);  // exists and is a directory
bool PathExists(std::u16string_view wirePath);

// kInvalidAttributes when the path does not exist.
uint32_t GetFileAttributes(std::u16string_view wirePath);
// Read-only clears every write bit, its absence sets the owner's; hidden, system and archive are
// ignored.
bool SetFileAttributes(std::u16string_view wirePath, uint32_t attributes);

std::optional<FileTimes> GetFileTimes(std::u16string_view wirePath);
// A zero time leaves that time as it is. The creation time cannot be set on Linux.
bool SetFileTimes(std::u16string_view wirePath, const FileTimes& times);

std::optional<uint64_t> GetFileSize(std::u16string_view wirePath);

bool CreateDirectory(std::u16string_view wirePath);  // one level; errno EEXIST when present
bool RemoveDirectory(std::u16string_view wirePath);  // must be empty
bool DeleteFile(std::u16string_view wirePath);
// Renames, replacing an existing target atomically when replace is set.
bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace);
bool CopyFile(std::u16string_view from, std::u16string_view to, bool failIfExists);

// Opens a native file descriptor; flags as for open(2). -1 on failure. The open never
// blocks: a FIFO or device named by a request must not stall the agent (O_NONBLOCK is added;
// it changes nothing for regular files).
int OpenFile(std::u16string_view wirePath, int flags, int mode = 0666);
// A new empty file "tmpXXXX.tmp" in the folder, created exclusively; its wire path, or
// nullopt. The descriptor stays open for the caller when fd is given.
std::optional<std::u16string> CreateTempFile(std::u16string_view wireFolder, int* fd = nullptr);

// Free bytes available to the caller on the volume holding the path.
std::optional<uint64_t> FreeDiskSpace(std::u16string_view wirePath);

// What Windows would report for a native path (symbolic links followed); nullopt with errno
// set when it does not exist. Shared with the directory search.
struct NativeFileInfo {
  uint32_t attributes = 0;
  uint64_t size = 0;  // 0 for directories
  FileTimes times;
};
std::optional<NativeFileInfo> StatNative(const std::string& nativePath);

}  // namespace perimo::platform
