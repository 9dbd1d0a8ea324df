#include <algorithm>

#include "formats/pe_resources.h"

namespace perimo {
namespace {

// Every read checks its bounds; a failed read leaves the cursor failed for good.
class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> bytes, size_t at = 0) : bytes_(bytes), at_(at) {}

  bool ok() const { return ok_; }
  size_t at() const { return at_; }
  size_t left() const { return ok_ && at_ <= bytes_.size() ? bytes_.size() - at_ : 0; }

  uint8_t U8() {
    if (left() < 1) return Fail();
    return bytes_[at_++];
  }
  uint16_t U16() {
    if (left() < 2) return Fail();
    const uint16_t v = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
    at_ += 2;
    return v;
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    const uint32_t hi = U16();
    return lo | hi << 16;
  }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  void Skip(size_t n) {
    if (left() < n) {
      Fail();
    } else {
      at_ += n;
    }
  }
  // Dialog items start on 4-byte boundaries of the template.
  void AlignTo4() {
    const size_t pad = (4 - at_ % 4) % 4;
    at_ = std::min(at_ + pad, bytes_.size());
  }
  // A zero-terminated UTF-16 text; a cut text keeps what was there.
  std::u16string Text() {
    std::u16string out;
    while (ok_) {
      const char16_t c = U16();
      if (!ok_ || c == 0) break;
      out.push_back(c);
    }
    return out;
  }
  // A name or an ordinal: 0 (none), 0xFFFF followed by a number, or a text.
  std::u16string NameOrOrdinal(uint16_t* ordinal = nullptr) {
    if (left() < 2) {
      Fail();
      return {};
    }
    const uint16_t first = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
    if (first == 0) {
      at_ += 2;
      return {};
    }
    if (first == 0xFFFF) {
      at_ += 2;
      const uint16_t v = U16();
      if (ordinal) *ordinal = v;
      return {};
    }
    return Text();
  }

 private:
  uint8_t Fail() {
    ok_ = false;
    return 0;
  }

  std::span<const uint8_t> bytes_;
  size_t at_;
  bool ok_ = true;
};

struct Section {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

// The file bytes behind a relative virtual address, up to the end of its section's data.
std::span<const uint8_t> AtRva(std::span<const uint8_t> file, const std::vector<Section>& sections,
                               uint32_t rva) {
  for (const Section& s : sections) {
    const uint32_t extent = std::max(s.virtualSize, s.rawSize);
    if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
    const uint32_t into = rva - s.virtualAddress;
    if (into >= s.rawSize || s.rawOffset >= file.size()) return {};
    const size_t start = static_cast<size_t>(s.rawOffset) + into;
    if (start >= file.size()) return {};
    const size_t end = std::min(file.size(), static_cast<size_t>(s.rawOffset) + s.rawSize);
    return file.subspan(start, end - start);
  }
  return {};
}

struct DirectoryEntry {
  uint32_t id;
  bool named;
  bool subdirectory;
  uint32_t offset;  // from the start of the resource section
};

std::vector<DirectoryEntry> ReadDirectory(std::span<const uint8_t> rsrc, uint32_t offset) {
  Cursor c(rsrc, offset);
  c.Skip(12);
  const uint32_t count = static_cast<uint32_t>(c.U16()) + c.U16();
  std::vector<DirectoryEntry> entries;
  if (!c.ok()) return entries;
  // A count larger than the bytes that follow is cut to the entries present.
  entries.reserve(std::min<size_t>(count, c.left() / 8));
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t name = c.U32();
    const uint32_t target = c.U32();
    if (!c.ok()) break;
    entries.push_back({name & 0x7FFFFFFF, (name & 0x80000000) != 0, (target & 0x80000000) != 0,
                       target & 0x7FFFFFFF});
  }
  return entries;
}

void DecodeStringBlock(uint32_t blockId, std::span<const uint8_t> bytes, ResourceSet& out) {
  if (blockId == 0 || blockId > 4096) return;
  Cursor c(bytes);
  for (uint32_t i = 0; i < 16; ++i) {
    const uint16_t length = c.U16();
    if (!c.ok()) return;
    std::u16string text;
    text.reserve(std::min<size_t>(length, c.left() / 2));
    for (uint16_t k = 0; k < length && c.ok(); ++k) {
      const char16_t ch = c.U16();
      if (c.ok()) text.push_back(ch);
    }
    if (!text.empty()) out.strings.emplace((blockId - 1) * 16 + i, std::move(text));
    if (!c.ok()) return;
  }
}

}  // namespace

std::optional<DialogResource> DecodeDialogTemplate(std::span<const uint8_t> bytes) {
  Cursor c(bytes);
  DialogResource d;
  const uint16_t version = c.U16();
  const uint16_t signature = c.U16();
  const bool extended = version == 1 && signature == 0xFFFF;
  if (extended) {
    c.U32();  // help id
    d.exStyle = c.U32();
    d.style = c.U32();
  } else {
    c = Cursor(bytes);
    d.style = c.U32();
    d.exStyle = c.U32();
  }
  const uint16_t count = c.U16();
  d.x = c.I16();
  d.y = c.I16();
  d.cx = c.I16();
  d.cy = c.I16();
  c.NameOrOrdinal();  // menu
  c.NameOrOrdinal();  // window class
  d.title = c.Text();
  if (!c.ok()) return std::nullopt;
  constexpr uint32_t kSetFont = 0x40;
  if (d.style & kSetFont) {
    d.pointSize = c.U16();
    if (extended) {
      c.U16();  // weight
      c.U8();   // italic
      c.U8();   // character set
    }
    d.fontName = c.Text();
  }
  for (uint16_t i = 0; i < count && c.ok(); ++i) {
    c.AlignTo4();
    DialogItem item;
    if (extended) {
      c.U32();  // help id
      item.exStyle = c.U32();
      item.style = c.U32();
    } else {
      item.style = c.U32();
      item.exStyle = c.U32();
    }
    item.x = c.I16();
    item.y = c.I16();
    item.cx = c.I16();
    item.cy = c.I16();
    item.id = extended ? c.U32() : c.U16();
    c.NameOrOrdinal(&item.classOrdinal);
    item.text = c.NameOrOrdinal();
    const uint16_t extra = c.U16();
    c.Skip(extra);
    if (!c.ok()) break;
    d.items.push_back(std::move(item));
  }
  return d;
}

std::vector<MenuItem> DecodeMenuTemplate(std::span<const uint8_t> bytes) {
  constexpr uint16_t kPopup = 0x10;
  constexpr uint16_t kEnd = 0x80;
  constexpr uint16_t kSeparatorFlag = 0x800;
  constexpr uint16_t kMaxDepth = 16;
  std::vector<MenuItem> items;
  Cursor c(bytes);
  const uint16_t version = c.U16();
  const uint16_t headerSize = c.U16();
  if (!c.ok()) return items;
  const bool extended = version == 1;
  if (extended) {
    c = Cursor(bytes, 4);
    c.Skip(headerSize);
  } else {
    c.Skip(headerSize);
  }
  // One entry per open pop-up: whether that pop-up was itself the last item of its level,
  // so that the end of its items also ends the level around it.
  std::vector<bool> open;
  while (c.ok() && c.left() > 0) {
    MenuItem item;
    item.depth = static_cast<uint16_t>(open.size());
    bool last = false;
    if (extended) {
      c.AlignTo4();
      const uint32_t type = c.U32();
      c.U32();  // state
      item.id = c.U32();
      const uint16_t flags = c.U16();
      item.text = c.Text();
      c.AlignTo4();
      item.popup = (flags & 0x01) != 0;
      last = (flags & kEnd) != 0;
      item.separator = (type & kSeparatorFlag) != 0;
      if (item.popup) c.U32();  // help id of the pop-up
    } else {
      const uint16_t option = c.U16();
      item.popup = (option & kPopup) != 0;
      last = (option & kEnd) != 0;
      if (!item.popup) item.id = c.U16();
      item.text = c.Text();
      item.separator =
          !item.popup && ((option & kSeparatorFlag) != 0 || (item.id == 0 && item.text.empty()));
    }
    if (!c.ok()) break;
    const bool opens = item.popup && open.size() < kMaxDepth;
    items.push_back(std::move(item));
    if (opens) {
      open.push_back(last);
      continue;
    }
    if (!last) continue;
    while (true) {
      if (open.empty()) return items;
      const bool parentWasLast = open.back();
      open.pop_back();
      if (!parentWasLast) break;
    }
  }
  return items;
}

std::optional<ResourceSet> ReadResourcePe(std::span<const uint8_t> file) {
  Cursor dos(file);
  if (dos.U16() != 0x5A4D) return std::nullopt;  // "MZ"
  dos.Skip(0x3A);
  const uint32_t peOffset = dos.U32();
  Cursor pe(file, peOffset);
  if (!dos.ok() || peOffset >= file.size() || pe.U32() != 0x00004550) return std::nullopt;
  pe.U16();  // machine
  const uint16_t sectionCount = pe.U16();
  pe.Skip(12);
  const uint16_t optionalSize = pe.U16();
  pe.U16();  // characteristics
  if (!pe.ok()) return std::nullopt;
  const size_t optionalAt = pe.at();
  const uint16_t magic = pe.U16();
  // The data directories follow the fixed fields: 96 bytes of them in a 32-bit image, 112 in
  // a 64-bit one; the resource directory is the third.
  const size_t directoriesAt = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  if (directoriesAt == 0 || optionalSize < directoriesAt + 3 * 8) return std::nullopt;
  Cursor opt(file, optionalAt + directoriesAt - 4);
  const uint32_t directoryCount = opt.U32();
  opt.Skip(16);
  const uint32_t resourceRva = opt.U32();
  if (!opt.ok() || directoryCount < 3 || resourceRva == 0) return std::nullopt;

  // The loader refuses more than 96 sections.
  std::vector<Section> sections;
  Cursor sec(file, optionalAt + optionalSize);
  for (uint16_t i = 0; i < std::min<uint16_t>(sectionCount, 96); ++i) {
    sec.Skip(8);
    Section s{};
    s.virtualSize = sec.U32();
    s.virtualAddress = sec.U32();
    s.rawSize = sec.U32();
    s.rawOffset = sec.U32();
    sec.Skip(16);
    if (!sec.ok()) break;
    sections.push_back(s);
  }
  const std::span<const uint8_t> rsrc = AtRva(file, sections, resourceRva);
  if (rsrc.empty()) return std::nullopt;

  ResourceSet out;
  bool languageSeen = false;
  bool typeSeen[3] = {false, false, false};
  for (const DirectoryEntry& type : ReadDirectory(rsrc, 0)) {
    if (type.named || !type.subdirectory || type.id < kResourceTypeMenu ||
        type.id > kResourceTypeString) {
      continue;
    }
    // A repeated type would only repeat the work; the first one counts.
    if (typeSeen[type.id - kResourceTypeMenu]) continue;
    typeSeen[type.id - kResourceTypeMenu] = true;
    for (const DirectoryEntry& name : ReadDirectory(rsrc, type.offset)) {
      if (name.named || !name.subdirectory) continue;
      // The first language of each resource: a pack carries one.
      for (const DirectoryEntry& language : ReadDirectory(rsrc, name.offset)) {
        if (language.subdirectory) continue;
        Cursor entry(rsrc, language.offset);
        const uint32_t dataRva = entry.U32();
        const uint32_t dataSize = entry.U32();
        if (!entry.ok()) break;
        std::span<const uint8_t> data = AtRva(file, sections, dataRva);
        data = data.first(std::min<size_t>(data.size(), dataSize));
        if (!languageSeen) {
          out.language = static_cast<uint16_t>(language.id);
          languageSeen = true;
        }
        if (type.id == kResourceTypeString) {
          DecodeStringBlock(name.id, data, out);
        } else if (type.id == kResourceTypeDialog) {
          if (auto dialog = DecodeDialogTemplate(data)) out.dialogs.emplace(name.id, *dialog);
        } else {
          out.menus.emplace(name.id, DecodeMenuTemplate(data));
        }
        break;
      }
    }
  }
  return out;
}

const DialogItem* ResourceSet::FindDialogItem(uint32_t dialogId, uint32_t itemId) const {
  const auto it = dialogs.find(dialogId);
  if (it == dialogs.end()) return nullptr;
  for (const DialogItem& item : it->second.items) {
    if (item.id == itemId) return &item;
  }
  return nullptr;
}

const MenuItem* ResourceSet::FindMenuItem(uint32_t menuId, uint32_t itemId) const {
  const auto it = menus.find(menuId);
  if (it == menus.end()) return nullptr;
  for (const MenuItem& item : it->second) {
    if (!item.popup && !item.separator && item.id == itemId) return &item;
  }
  return nullptr;
}

}  // namespace perimo
