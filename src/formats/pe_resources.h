#pragma once
// Language packs: resource-only PE files (a DLL with one ".rsrc" section) holding string
// tables, dialog templates and menus. The reader takes any bytes and keeps what lies wholly
// inside the file; the writer makes files that the Windows resource loader reads as well.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace perimo {

// Resource types of the PE resource directory.
constexpr uint32_t kResourceTypeMenu = 4;
constexpr uint32_t kResourceTypeDialog = 5;
constexpr uint32_t kResourceTypeString = 6;

// Predefined window classes of dialog items, as ordinals.
enum DialogItemClass : uint16_t {
  kClassButton = 0x80,
  kClassEdit = 0x81,
  kClassStatic = 0x82,
  kClassListBox = 0x83,
  kClassScrollBar = 0x84,
  kClassComboBox = 0x85,
};

struct DialogItem {
  uint32_t id = 0;
  uint16_t classOrdinal = 0;  // 0 when the class is named
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::u16string text;  // empty when the title is an ordinal (an icon id)
};

struct DialogResource {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::u16string title;
  uint16_t pointSize = 0;  // with fontName: the dialog sets its font
  std::u16string fontName;
  std::vector<DialogItem> items;
};

// A menu flattened in order: a pop-up is followed by its items one level deeper.
struct MenuItem {
  uint32_t id = 0;
  uint16_t depth = 0;
  bool popup = false;
  bool separator = false;
  std::u16string text;
};

struct ResourceSet {
  uint16_t language = 0;  // of the first resource read; the writer tags every resource
  std::map<uint32_t, std::u16string> strings;  // empty strings are absent
  std::map<uint32_t, DialogResource> dialogs;
  std::map<uint32_t, std::vector<MenuItem>> menus;

  const DialogItem* FindDialogItem(uint32_t dialogId, uint32_t itemId) const;
  const MenuItem* FindMenuItem(uint32_t menuId, uint32_t itemId) const;
};

// nullopt when the bytes are not a PE file with a resource directory. Resources that point
// outside the file, or whose contents end early, are left out (or kept up to the cut).
std::optional<ResourceSet> ReadResourcePe(std::span<const uint8_t> file);

// A 32-bit resource-only DLL image.
std::vector<uint8_t> WriteResourcePe(const ResourceSet& resources);

// The template bytes of a dialog (extended form) and of a menu (standard form); the reader
// accepts both forms of each.
std::vector<uint8_t> EncodeDialogTemplate(const DialogResource& dialog);
std::vector<uint8_t> EncodeMenuTemplate(const std::vector<MenuItem>& items);
std::optional<DialogResource> DecodeDialogTemplate(std::span<const uint8_t> bytes);
std::vector<MenuItem> DecodeMenuTemplate(std::span<const uint8_t> bytes);

}  // namespace perimo
