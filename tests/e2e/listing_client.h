#pragma once
// A workstation's side of the listing commands: reads every page of a list until 06 00 and
// checks each page's shape on the way (size rule, terminators, trailing bytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workstation/workstation.h"

namespace perimo::e2e {

enum class EntryForm { kName, kMarked, kTimed };

struct ListedEntry {
  std::u16string name;
  char mark = 0;      // kMarked: '0' or '1'
  uint64_t time = 0;  // kTimed: local FILETIME
};

// Splits one page (without checking the size rule); nullopt when it is malformed.
std::optional<std::vector<ListedEntry>> ParsePage(const workstation::Bytes& page, EntryForm form,
                                                  bool wide, size_t* lastEntryStart = nullptr);

struct Listing {
  std::vector<ListedEntry> entries;
  std::vector<size_t> pageSizes;
};

// Sends the paging code until the page 06 00 (at most maxPages pages), adding a test failure
// for any page that is malformed, longer than 1056 bytes, or whose last entry starts at or
// after byte 512.
Listing ReadAllPages(workstation::Workstation& ws, uint8_t code, EntryForm form, bool wide,
                     size_t maxPages = 100000);

// The count an opening command replied (06 digits 00), or -1.
long CountReply(const std::optional<workstation::Bytes>& reply);

// A frame of the code, optional raw prefix bytes, then the text in 8 or 16 bits with its
// terminator.
workstation::Bytes NameFrame(uint8_t code, std::u16string_view text, bool wide,
                             const workstation::Bytes& prefix = {});

std::string Narrow(std::u16string_view text);
std::u16string Widen(std::string_view text);

}  // namespace perimo::e2e
