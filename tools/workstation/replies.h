#pragma once
// Reading the agent's replies. Every function takes whatever bytes came and never reads past
// them: a short or malformed reply yields a partial result or false, never a fault.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workstation/frames.h"

namespace perimo::workstation {

// A reply string at offset in the session's width, up to its zero character (or the end);
// offset moves past it. Returned as UTF-8.
std::string ReadReplyText(const Bytes& reply, size_t& offset, bool wide);

// The zero-terminated 8-bit fields from offset on (a last unterminated one included).
std::vector<std::string> ZeroFields(const Bytes& reply, size_t from);

struct ListEntry {
  std::string name;
  std::optional<uint64_t> fileTime;  // local FILETIME (project and system listings)
  bool hasSubdirectories = false;    // directory listing
};

// Entries of a listing page are names (drives), names with a line feed and a sub-folder
// mark (folders), or names followed by a FILETIME and one more byte (files).
enum class PageForm { kName, kNameMark, kNameTime };

// One listing page after its ACK: 06 00 ends the listing (last set). False when an entry
// breaks off.
bool ParsePage(const Bytes& reply, PageForm form, bool wide, std::vector<ListEntry>& out,
               bool& last);

struct SystemInfo {
  std::string osName;
  bool administrator = false;
  std::string product;
  std::string agentVersion;
  std::string extension;
  std::string freeMemoryKiB;
  std::string delay;
  uint32_t packSize = 16384;
  std::string locale;
  uint8_t downloadLock = 0;
  char security = '0';
  bool wide = false;
};

// 0x13: the operating system's name and whether the agent runs as administrator.
void ParseOsReply(const Bytes& reply, SystemInfo& info);
// 0x14: product, versions, free memory, delay and block size (kept when not a number).
void ParseProductReply(const Bytes& reply, SystemInfo& info);

using Digest = std::array<uint8_t, 20>;
enum class DigestReply { kPresent, kMissing, kOther };
// 0x35: 06 and 20 digest bytes, or 15 01 for a missing file.
DigestReply ParseDigestReply(const Bytes& reply, Digest& digest);

}  // namespace perimo::workstation
