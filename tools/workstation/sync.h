#pragma once
// Incremental deploy of a local folder to a folder on the target: files whose SHA-1 (0x35)
// differs from the local one, or that the target lacks, are sent; the others are skipped.
// With removal, files that the all-files project listing shows under the remote folder and
// that the local tree lacks are deleted. That listing never shows files below folders named
// Bin or Drv, so those are never deleted.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workstation/session.h"
#include "workstation/transfers.h"

namespace perimo::workstation {

struct SyncOptions {
  bool remove = false;
  bool dryRun = false;
  uint32_t runCapacity = 16384u * 55;
  // Called before each file is sent, with its remote name and size; returns the progress
  // callback for that file (may be empty).
  std::function<Progress(const std::string& remote, uint64_t size)> onSend;
};

struct SyncResult {
  std::vector<std::string> sent, skipped, deleted;  // remote names
  uint64_t bytesSent = 0;
};

// Relative names (with '\') of the regular files under folder, sorted.
Error LocalTree(const std::string& folder, std::vector<std::string>& names);

// A remote name joined from a folder and a relative name with '\' separators.
std::string RemoteJoin(const std::string& folder, const std::string& relative);

// remoteFolder must be absolute ("X:..." or "\..."): digests take names as they are.
Error Sync(Session& session, const std::string& localFolder, const std::string& remoteFolder,
           const SyncOptions& options, SyncResult& result);

}  // namespace perimo::workstation
