#pragma once
// State of the current download or upload: one instance for the whole agent. The download
// procedures and the upload share it; every opening command (0x01, 0x2D, 0x37, 0x04) ends
// whatever was left open.
#include <cstdint>
#include <string>
#include <vector>

namespace perimo {

// First failure of a download, sent as the byte after 0x15 by CloseDownload and FlushBlocks.
enum TransferStatus : int32_t {
  kTransferOk = 0,
  kTransferEmptyName = 1,
  kTransferBadSequence = 2,  // also: the file's length differs from the declared size
  kTransferCannotCreate = 4,
  kTransferBadBlockSize = 6,
  kTransferWriteFailed = 8,  // the detail holds the file error cause
  kTransferExpandFailed = 62,
};

struct TransferState {
  int fd = -1;                   // the temporary file the download is written to
  std::u16string temporaryName;  // wire path; empty when none
  // Opened by 0x01: its temporary file goes in place at CloseDownload, or when the next
  // opening command ends the download without one.
  bool simple = false;
  int32_t sequence = -1;  // -1: frames carry no sequence numbers
  int64_t declaredSize = -1;
  int32_t status = kTransferOk;
  uint32_t statusDetail = 0;
  bool compressed = false;

  std::u16string currentFile;   // wire path of the download target or the upload source
  uint64_t uploadOffset = 0;    // at most 4 GiB - 1: replies count in 32 bits
  bool errorReplySent = false;  // later failures of the same download stay silent
  uint32_t blockFill = 0;       // bytes waiting in the agent's block buffer

  // Reply of ReadBlock: 0x06, u32 count, data. Allocated by the first ReadBlock and kept.
  std::vector<uint8_t> uploadReply;
  // The native path of currentFile as ReadBlock last looked it up, so that the blocks of
  // one upload cost no path lookup.
  std::u16string uploadNameLookedUp;
  std::string uploadNativePath;
};

}  // namespace perimo
