#pragma once
// The agent's dialogs and menus as resources: the built-in US English templates (layout in
// dialog units, control ids, styles and texts) and the texts of a loaded language pack, which
// replace the built-in ones wherever the pack has them.
#include <cstdint>
#include <memory>
#include <string>

#include "formats/pe_resources.h"

namespace perimo {

enum DialogId : uint32_t {
  kDialogAbout = 100,
  kDialogStatus = 102,
  kDialogSetup = 103,
  kDialogUserList = 104,
  kDialogEditUser = 105,
  kDialogSerial = 106,
};
enum MenuId : uint32_t {
  kMenuNotificationIcon = 147,
  kMenuMainFrame = 208,
};
constexpr uint32_t kCommandAbout = 57664;
constexpr uint32_t kCommandExit = 57665;
// A control without an id (labels, group boxes).
constexpr uint32_t kNoControlId = 0xFFFFFFFF;

// Window style bits the templates use.
namespace style {
constexpr uint32_t kDefPushButton = 0x1, kAutoCheckBox = 0x3, kGroupBox = 0x7,
                   kAutoRadioButton = 0x9, kButtonTypeMask = 0xF;
constexpr uint32_t kMultiLine = 0x4, kPassword = 0x20, kAutoVScroll = 0x40, kReadOnly = 0x800;
constexpr uint32_t kDropDown = 0x2, kDropDownList = 0x3, kComboSort = 0x100;
constexpr uint32_t kListNotify = 0x1, kIcon = 0x3;
constexpr uint32_t kTabStop = 0x10000, kVScroll = 0x200000, kBorder = 0x800000,
                   kDisabled = 0x8000000, kVisible = 0x10000000;
}  // namespace style

// Every built-in dialog, menu and string: what a translator starts from.
const ResourceSet& BuiltInResources();
const DialogResource* BuiltInDialog(uint32_t id);

// The pack in force (null: the built-in texts). Also serves the status texts.
void SetLanguageResources(std::shared_ptr<const ResourceSet> pack);
std::shared_ptr<const ResourceSet> LanguageResources();

// A dialog's title, and the text of its control at position index of the built-in template:
// from the pack's dialog of the same id, by control id, or by position for controls without
// one; else the built-in text.
std::u16string DialogTitle(uint32_t dialogId);
std::u16string DialogItemText(uint32_t dialogId, size_t index);
std::u16string MenuItemText(uint32_t menuId, uint32_t commandId);

}  // namespace perimo
