#include "e2e/listing_client.h"

namespace perimo::e2e {

using workstation::Bytes;

std::optional<std::vector<ListedEntry>> ParsePage(const Bytes& page, EntryForm form, bool wide,
                                                  size_t* lastEntryStart) {
  if (page.empty() || page[0] != 0x06) return std::nullopt;
  std::vector<ListedEntry> entries;
  const size_t unit = wide ? 2 : 1;
  size_t at = 1;
  while (at < page.size()) {
    if (lastEntryStart) *lastEntryStart = at;
    ListedEntry entry;
    std::u16string text;
    bool ended = false;
    while (at + unit <= page.size()) {
      const char16_t c = wide ? static_cast<char16_t>(page[at] | (page[at + 1] << 8)) : page[at];
      at += unit;
      if (c == 0) {
        ended = true;
        break;
      }
      text += c;
    }
    if (!ended) return std::nullopt;
    if (form == EntryForm::kMarked) {
      if (text.size() < 2 || text[text.size() - 2] != u'\n') return std::nullopt;
      entry.mark = static_cast<char>(text.back());
      text.resize(text.size() - 2);
    } else if (form == EntryForm::kTimed) {
      if (at + 9 > page.size() || page[at + 8] != 0) return std::nullopt;
      for (int i = 7; i >= 0; --i) entry.time = (entry.time << 8) | page[at + i];
      at += 9;
    }
    entry.name = std::move(text);
    entries.push_back(std::move(entry));
  }
  return entries;
}

Listing ReadAllPages(workstation::Workstation& ws, uint8_t code, EntryForm form, bool wide,
                     size_t maxPages) {
  Listing listing;
  for (size_t n = 0; n < maxPages; ++n) {
    const auto page = ws.Request(workstation::Frame(code));
    if (!page) {
      ADD_FAILURE() << "no page " << n;
      return listing;
    }
    if (*page == Bytes{0x06, 0x00}) return listing;
    listing.pageSizes.push_back(page->size());
    size_t last = 0;
    const auto entries = ParsePage(*page, form, wide, &last);
    if (!entries || entries->empty()) {
      ADD_FAILURE() << "malformed page " << n << " of " << page->size() << " bytes";
      return listing;
    }
    EXPECT_LE(page->size(), 1056u);
    EXPECT_LT(last, 512u) << "an entry began after the page was full";
    listing.entries.insert(listing.entries.end(), entries->begin(), entries->end());
  }
  ADD_FAILURE() << "the list did not end";
  return listing;
}

long CountReply(const std::optional<Bytes>& reply) {
  if (!reply || reply->size() < 3 || reply->front() != 0x06 || reply->back() != 0x00) return -1;
  long count = 0;
  for (size_t i = 1; i + 1 < reply->size(); ++i) {
    if ((*reply)[i] < '0' || (*reply)[i] > '9') return -1;
    count = count * 10 + ((*reply)[i] - '0');
  }
  return count;
}

Bytes NameFrame(uint8_t code, std::u16string_view text, bool wide, const Bytes& prefix) {
  Bytes frame;
  frame.reserve(1 + prefix.size() + (text.size() + 1) * 2);
  frame.push_back(code);
  for (uint8_t b : prefix) frame.push_back(b);
  for (char16_t c : text) {
    frame.push_back(static_cast<uint8_t>(c));
    if (wide) frame.push_back(static_cast<uint8_t>(c >> 8));
  }
  frame.push_back(0);
  if (wide) frame.push_back(0);
  return frame;
}

std::string Narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

std::u16string Widen(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace perimo::e2e
