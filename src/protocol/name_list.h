#pragma once
// The one list of collected names that the opening commands fill and the paging commands
// hand out, 512 bytes at a time.
//
// Page: 06, then entries while fewer than 512 bytes are filled (the last may run past 512;
// no page exceeds 1056 bytes); 06 00 when nothing is left. A name is its 16-bit units and a
// zero unit while wide strings are on, else low bytes and a zero byte.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_time.h"

namespace perimo {

struct NameList {
  std::vector<std::u16string> names;
  int32_t cursor = 0;
  std::vector<uint16_t> marks;  // one per name of the last directory list: has sub-folders
  std::u16string baseFolder;    // the project list's folder, with a trailing '\'
  std::string nativeBase;       // the same folder as resolved when the list was made

  // What every opening command does first.
  void Restart() {
    names.clear();
    cursor = 0;
  }
};

constexpr size_t kPageFill = 512;
constexpr size_t kPageLimit = 1056;
// Longest name whose widest entry (16-bit name, terminator, time, zero) fits an empty page;
// longer names are not collected.
constexpr size_t kMaxListedNameChars = (kPageLimit - 1 - 2 - 9) / 2;

enum class PageForm {
  kName,    // the name
  kMarked,  // name, LF, '1' or '0' for "has sub-folders", one terminator
  kTimed,   // name, last-write FILETIME in local time (8 bytes), 00
};

struct Page {
  std::vector<uint8_t> bytes;
  std::vector<std::u16string> sent;  // the names put in the page, for its status line
};

// The last-write time of a listed name in UTC, or nullopt when it no longer exists (the name
// is passed over). Used by kTimed only.
using NameTimeLookup = std::function<std::optional<platform::FileTime>(const std::u16string&)>;

// The next page from the list's cursor on; advances the cursor over every name it takes or
// passes over.
Page NextPage(NameList& list, PageForm form, bool wide, const NameTimeLookup& lookup = {});

// "Sending ... name: %1." for each sent name, joined by "\r\r\n"; empty when none was sent.
std::u16string PageStatusLine(const Page& page, int textId);

}  // namespace perimo
