#include "protocol/name_list.h"

#include "platform/wire_string.h"
#include "protocol/request.h"
#include "protocol/status_text.h"

namespace perimo {
namespace {

namespace pf = platform;

size_t EntrySize(const std::u16string& name, PageForm form, bool wide) {
  const size_t unit = wide ? 2 : 1;
  switch (form) {
    case PageForm::kName:
      return (name.size() + 1) * unit;
    case PageForm::kMarked:
      return (name.size() + 3) * unit;
    case PageForm::kTimed:
      return (name.size() + 1) * unit + 9;
  }
  return 0;
}

}  // namespace

Page NextPage(NameList& list, PageForm form, bool wide, const NameTimeLookup& lookup) {
  Page page;
  page.bytes.reserve(kPageLimit);
  page.bytes.push_back(kAck);
  if (list.cursor < 0) list.cursor = 0;
  while (static_cast<size_t>(list.cursor) < list.names.size() && page.bytes.size() < kPageFill) {
    const size_t index = static_cast<size_t>(list.cursor);
    const std::u16string& name = list.names[index];
    const size_t size = EntrySize(name, form, wide);
    // An entry that would overflow the page waits for the next one; one that fits no page at
    // all is passed over.
    if (page.bytes.size() + size > kPageLimit && page.bytes.size() > 1) break;
    ++list.cursor;
    if (name.empty() || 1 + size > kPageLimit) continue;
    std::optional<pf::FileTime> written;
    if (form == PageForm::kTimed) {
      written = lookup ? lookup(name) : std::nullopt;
      if (!written) continue;  // vanished since the list was made
    }
    pf::AppendWireText(page.bytes, name, wide);
    if (form == PageForm::kMarked) {
      const bool mark = index < list.marks.size() && list.marks[index] != 0;
      const char16_t tail[] = {u'\n', mark ? u'1' : u'0'};
      pf::AppendWireText(page.bytes, std::u16string_view(tail, 2), wide);
    }
    pf::AppendWireZero(page.bytes, wide);
    if (form == PageForm::kTimed) {
      pf::AppendU64(page.bytes, pf::FileTimeToLocalFileTime(*written));
      page.bytes.push_back(0x00);
    }
    page.sent.push_back(name);
  }
  // Nothing left, or only names that vanished: the end of the list either way.
  if (page.sent.empty()) page.bytes = {kAck, 0x00};
  return page;
}

std::u16string PageStatusLine(const Page& page, int textId) {
  std::u16string line;
  for (size_t i = 0; i < page.sent.size(); ++i) {
    if (i > 0) line += u"\r\r\n";
    line += StatusText(textId, page.sent[i]);
  }
  return line;
}

}  // namespace perimo
