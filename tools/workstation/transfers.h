#pragma once
// File transfers over a session: the extended download with sequence numbers (put), the
// upload read with several blocks in flight (get), and file digests.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "workstation/replies.h"
#include "workstation/session.h"

namespace perimo::workstation {

using Progress = std::function<void(uint64_t done)>;

// Windows attribute bits on the wire.
constexpr uint32_t kReadOnly = 0x01;
constexpr uint32_t kHidden = 0x02;
constexpr uint32_t kDirectory = 0x10;
constexpr uint32_t kArchive = 0x20;
constexpr uint32_t kNoAttributes = 0xFFFFFFFF;

// FILETIME in local time (as the wire carries it) from a UTC time and back.
uint64_t LocalFileTime(timespec utc);
timespec UtcFromLocalFileTime(uint64_t fileTime);

struct PutOptions {
  // A file that is already in a compressed format: the agent expands it at the end.
  bool compressed = false;
  // Block buffer capacity of the agent (packSize x 55): a run of blocks never exceeds it.
  uint32_t runCapacity = 16384u * 55;
  Progress progress;
};

// Sends the local file to the remote name, with its times and attributes. The declared size
// is the local file's (a compressed file's own size).
Error PutFile(Session& session, const std::string& localPath, const std::string& remoteName,
              const PutOptions& options);

struct GetOptions {
  int window = 16;  // ReadBlock requests in flight
  Progress progress;
  uint64_t* size = nullptr;  // the size the agent announced
};

// Fetches the remote file into localPath through a temporary file beside it, renamed into
// place only when the whole file came; times and the read-only attribute are applied.
Error GetFile(Session& session, const std::string& remoteName, const std::string& localPath,
              const GetOptions& options);

// 0x35. present is false when the agent says the file is missing (not an error).
Error RemoteDigest(Session& session, const std::string& remoteName, Digest& digest, bool& present);
// Several digests with up to window requests in flight; present[i] as above.
Error RemoteDigests(Session& session, const std::vector<std::string>& remoteNames,
                    std::vector<Digest>& digests, std::vector<bool>& present, int window = 32);
// SHA-1 of a local file; false when it cannot be read.
bool LocalDigest(const std::string& path, Digest& digest);
std::string HexDigest(const Digest& digest);

}  // namespace perimo::workstation
