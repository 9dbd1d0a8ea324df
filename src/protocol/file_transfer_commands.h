#pragma once
// Downloads and uploads of single files.
//
// Simple download:   0x01 OpenDownload, 0x02 WriteBlock..., 0x03 CloseDownload; every frame
//                    is answered; blocks are written into a temporary file beside the target
//                    that 0x03 (or, for peers that never close, the next opening) puts in place.
// Extended download: 0x2D OpenDownloadEx (quiet 0x37), 0x2E BufferBlock... into the block
//                    buffer, 0x2C FlushBlocks writes them in one go, 0x03 (quiet 0x38)
//                    CloseDownload puts the temporary file (or its expansion) in place.
// Upload:            0x04 OpenUpload, 0x05 ReadBlock until a count of 0, 0x06 CloseUpload.
#include "protocol/request.h"

namespace perimo {

struct AgentState;

void OpenDownload(Request& request);                  // 0x01
void WriteBlock(Request& request);                    // 0x02
void CloseDownload(Request& request, bool replyOn);   // 0x03, quiet 0x38
void OpenUpload(Request& request);                    // 0x04
void ReadBlock(Request& request);                     // 0x05
void CloseUpload(Request& request);                   // 0x06
void FlushBlocks(Request& request);                   // 0x2C
void OpenDownloadEx(Request& request, bool replyOn);  // 0x2D, quiet 0x37
void BufferBlock(Request& request);                   // 0x2E

// At exit: an open download's temporary file (with its reserved space) goes, its target
// stays as it was.
void EndTransfers(AgentState& agent);
// The connection that opened a simple download is gone: its temporary file goes, the target
// stays as it was.
void EndDownloadOfLostConnection(AgentState& agent);

// Largest block a WriteBlock or BufferBlock frame may carry.
constexpr uint32_t kMaxBlockSize = 32768;

}  // namespace perimo
