#include <algorithm>
#include <cstring>

#include "formats/pe_resources.h"

namespace perimo {
namespace {

class Out {
 public:
  std::vector<uint8_t> bytes;

  void U8(uint8_t v) { bytes.push_back(v); }
  void U16(uint32_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void Text(const std::u16string& s) {
    for (char16_t c : s) U16(c);
    U16(0);
  }
  void Align(size_t n) {
    while (bytes.size() % n) U8(0);
  }
  void Put32At(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

uint32_t AlignUp(uint32_t v, uint32_t a) {
  return (v + a - 1) / a * a;
}

struct Resource {
  uint32_t type;
  uint32_t id;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> EncodeStringBlock(const ResourceSet& set, uint32_t blockId) {
  Out o;
  for (uint32_t i = 0; i < 16; ++i) {
    const auto it = set.strings.find((blockId - 1) * 16 + i);
    const size_t length = it == set.strings.end() ? 0 : std::min<size_t>(it->second.size(), 0xFFFF);
    o.U16(static_cast<uint32_t>(length));
    for (size_t k = 0; k < length; ++k) o.U16(it->second[k]);
  }
  return o.bytes;
}

// The resource section: root, type, name and language directories, then the data entries
// and the data. Offsets inside are from the section start; data addresses are virtual.
std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources, uint16_t language,
                                          uint32_t sectionRva) {
  std::vector<uint32_t> types;
  for (const Resource& r : resources) {
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
  }
  std::sort(types.begin(), types.end());
  const auto directorySize = [](size_t entries) { return 16 + 8 * static_cast<uint32_t>(entries); };

  uint32_t at = directorySize(types.size());
  std::vector<uint32_t> typeDirAt;
  for (uint32_t t : types) {
    typeDirAt.push_back(at);
    at += directorySize(std::count_if(resources.begin(), resources.end(),
                                      [&](const Resource& r) { return r.type == t; }));
  }
  std::vector<uint32_t> languageDirAt(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    languageDirAt[i] = at;
    at += directorySize(1);
  }
  std::vector<uint32_t> entryAt(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    entryAt[i] = at;
    at += 16;
  }
  std::vector<uint32_t> dataAt(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    at = AlignUp(at, 8);
    dataAt[i] = at;
    at += static_cast<uint32_t>(resources[i].data.size());
  }

  Out o;
  const auto directory = [&](uint16_t idEntries) {
    o.U32(0);  // characteristics
    o.U32(0);  // time stamp: none, so that a pack is the same bytes every time
    o.U32(0);  // version
    o.U16(0);  // named entries
    o.U16(idEntries);
  };
  directory(static_cast<uint16_t>(types.size()));
  for (size_t t = 0; t < types.size(); ++t) {
    o.U32(types[t]);
    o.U32(0x80000000 | typeDirAt[t]);
  }
  for (uint32_t t : types) {
    std::vector<size_t> ofType;
    for (size_t i = 0; i < resources.size(); ++i) {
      if (resources[i].type == t) ofType.push_back(i);
    }
    directory(static_cast<uint16_t>(ofType.size()));
    for (size_t i : ofType) {
      o.U32(resources[i].id);
      o.U32(0x80000000 | languageDirAt[i]);
    }
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    directory(1);
    o.U32(language);
    o.U32(entryAt[i]);
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    o.U32(sectionRva + dataAt[i]);
    o.U32(static_cast<uint32_t>(resources[i].data.size()));
    o.U32(0);  // code page
    o.U32(0);
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    o.Align(8);
    o.bytes.insert(o.bytes.end(), resources[i].data.begin(), resources[i].data.end());
  }
  return o.bytes;
}

}  // namespace

std::vector<uint8_t> EncodeDialogTemplate(const DialogResource& d) {
  constexpr uint32_t kSetFont = 0x40;
  Out o;
  o.U16(1);
  o.U16(0xFFFF);
  o.U32(0);  // help id
  o.U32(d.exStyle);
  const bool font = !d.fontName.empty();
  o.U32(font ? d.style | kSetFont : d.style & ~kSetFont);
  o.U16(static_cast<uint32_t>(std::min<size_t>(d.items.size(), 0xFFFF)));
  o.U16(static_cast<uint16_t>(d.x));
  o.U16(static_cast<uint16_t>(d.y));
  o.U16(static_cast<uint16_t>(d.cx));
  o.U16(static_cast<uint16_t>(d.cy));
  o.U16(0);  // no menu
  o.U16(0);  // the standard dialog class
  o.Text(d.title);
  if (font) {
    o.U16(d.pointSize);
    o.U16(400);  // weight
    o.U8(0);     // italic
    o.U8(1);     // default character set
    o.Text(d.fontName);
  }
  for (size_t i = 0; i < std::min<size_t>(d.items.size(), 0xFFFF); ++i) {
    const DialogItem& item = d.items[i];
    o.Align(4);
    o.U32(0);
    o.U32(item.exStyle);
    o.U32(item.style);
    o.U16(static_cast<uint16_t>(item.x));
    o.U16(static_cast<uint16_t>(item.y));
    o.U16(static_cast<uint16_t>(item.cx));
    o.U16(static_cast<uint16_t>(item.cy));
    o.U32(item.id);
    o.U16(0xFFFF);
    o.U16(item.classOrdinal ? item.classOrdinal : static_cast<uint16_t>(kClassStatic));
    o.Text(item.text);
    o.U16(0);  // no creation data
  }
  return o.bytes;
}

std::vector<uint8_t> EncodeMenuTemplate(const std::vector<MenuItem>& items) {
  constexpr uint16_t kPopup = 0x10;
  constexpr uint16_t kEnd = 0x80;
  constexpr uint16_t kSeparator = 0x800;
  Out o;
  o.U16(0);
  o.U16(0);
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem& item = items[i];
    // Last of its level: no later item at the same depth before one shallower.
    bool last = true;
    for (size_t k = i + 1; k < items.size() && items[k].depth >= item.depth; ++k) {
      if (items[k].depth == item.depth) {
        last = false;
        break;
      }
    }
    const bool popup = item.popup && i + 1 < items.size() && items[i + 1].depth > item.depth;
    uint16_t option = last ? kEnd : 0;
    if (popup) option |= kPopup;
    if (item.separator) option |= kSeparator;
    o.U16(option);
    if (!popup) o.U16(item.id & 0xFFFF);
    o.Text(item.separator ? std::u16string() : item.text);
  }
  return o.bytes;
}

std::vector<uint8_t> WriteResourcePe(const ResourceSet& set) {
  std::vector<Resource> resources;
  for (const auto& [id, items] : set.menus) {
    resources.push_back({kResourceTypeMenu, id, EncodeMenuTemplate(items)});
  }
  for (const auto& [id, dialog] : set.dialogs) {
    resources.push_back({kResourceTypeDialog, id, EncodeDialogTemplate(dialog)});
  }
  std::vector<uint32_t> blocks;
  for (const auto& [id, text] : set.strings) {
    const uint32_t block = id / 16 + 1;
    if (id < 0x10000 && !text.empty() && (blocks.empty() || blocks.back() != block)) {
      blocks.push_back(block);
    }
  }
  for (uint32_t block : blocks) {
    resources.push_back({kResourceTypeString, block, EncodeStringBlock(set, block)});
  }

  constexpr uint32_t kFileAlignment = 0x200;
  constexpr uint32_t kSectionAlignment = 0x1000;
  constexpr uint32_t kSectionRva = 0x1000;
  constexpr uint32_t kPeOffset = 0x40;
  constexpr uint32_t kOptionalSize = 224;  // 32-bit optional header with 16 directories
  const std::vector<uint8_t> rsrc = BuildResourceSection(resources, set.language, kSectionRva);
  const uint32_t rawSize =
      AlignUp(static_cast<uint32_t>(std::max<size_t>(rsrc.size(), 1)), kFileAlignment);
  const uint32_t headersSize = AlignUp(kPeOffset + 4 + 20 + kOptionalSize + 40, kFileAlignment);

  Out o;
  o.U16(0x5A4D);  // "MZ"
  o.bytes.resize(0x3C, 0);
  o.U32(kPeOffset);
  o.U32(0x00004550);  // "PE\0\0"
  o.U16(0x014C);      // i386: the loader reads such a pack on every Windows
  o.U16(1);           // sections
  o.U32(0);           // time stamp
  o.U32(0);
  o.U32(0);
  o.U16(kOptionalSize);
  o.U16(0x2102);  // executable image, 32-bit machine, DLL
  o.U16(0x10B);
  o.U16(0);            // linker version
  o.U32(0);            // code size
  o.U32(rawSize);      // initialised data
  o.U32(0);            // uninitialised data
  o.U32(0);            // entry point: none, resources only
  o.U32(0);            // base of code
  o.U32(kSectionRva);  // base of data
  o.U32(0x10000000);   // image base
  o.U32(kSectionAlignment);
  o.U32(kFileAlignment);
  o.U16(4);  // operating system version
  o.U16(0);
  o.U16(0);  // image version
  o.U16(0);
  o.U16(4);  // subsystem version
  o.U16(0);
  o.U32(0);
  o.U32(kSectionRva +
        AlignUp(static_cast<uint32_t>(std::max<size_t>(rsrc.size(), 1)), kSectionAlignment));
  o.U32(headersSize);
  o.U32(0);       // checksum
  o.U16(2);       // GUI subsystem
  o.U16(0x0500);  // no SEH, NX compatible
  o.U32(0x100000);
  o.U32(0x1000);
  o.U32(0x100000);
  o.U32(0x1000);
  o.U32(0);   // loader flags
  o.U32(16);  // data directories
  for (uint32_t i = 0; i < 16; ++i) {
    o.U32(i == 2 ? kSectionRva : 0);
    o.U32(i == 2 ? static_cast<uint32_t>(rsrc.size()) : 0);
  }
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  o.bytes.insert(o.bytes.end(), name, name + 8);
  o.U32(static_cast<uint32_t>(rsrc.size()));
  o.U32(kSectionRva);
  o.U32(rawSize);
  o.U32(headersSize);
  o.U32(0);
  o.U32(0);
  o.U32(0);
  o.U32(0x40000040);  // initialised data, readable
  o.bytes.resize(headersSize, 0);
  o.bytes.insert(o.bytes.end(), rsrc.begin(), rsrc.end());
  o.bytes.resize(headersSize + rawSize, 0);
  return o.bytes;
}

}  // namespace perimo
