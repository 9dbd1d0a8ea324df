#pragma once
// The small commands: string width, free space, file size, windows of other programs, the
// registry, and the codes kept for old workstations.
//
// Registry requests are TAB-separated fields: root, sub-key, sub-key continuation, value
// name (empty: the key's default value) and, for a write, the data. Both answer 06 and a
// status character: '0' done, '1' unknown root, '2' failed; a read adds the value.
#include "protocol/request.h"

namespace perimo {

void IsViewerRunning(Request& request);     // 0x1F
void UseWideStrings(Request& request);      // 0x20
void GetDiskSpace(Request& request);        // 0x21
void GetFileSize(Request& request);         // 0x22
void CloseWindow(Request& request);         // 0x23
void IgnoreFrame(Request& request);         // 0x26, 0x27, 0x28, 0x30
void AnswerOne(Request& request);           // 0x29
void WriteRegistryValue(Request& request);  // 0x2A
void ReadRegistryValue(Request& request);   // 0x2B
void AnswerAck(Request& request);           // 0x2F

// A read registry value is cut to what a 256-byte buffer holds with its terminator.
constexpr size_t kMaxRegistryValueChars = 127;

}  // namespace perimo
