#include "protocol/dialog_resources.h"

#include <mutex>

#include "protocol/status_text.h"

namespace perimo {
namespace {

using namespace style;

constexpr uint32_t kChild = 0x40000000 | kVisible;
constexpr uint32_t kDialogStyle = 0x80C800C8;  // pop-up, caption, system menu, modal frame

DialogItem Item(uint32_t id, uint16_t cls, uint32_t bits, int16_t x, int16_t y, int16_t cx,
                int16_t cy, std::u16string text) {
  return DialogItem{id, cls, kChild | bits, 0, x, y, cx, cy, std::move(text)};
}
DialogItem Push(uint32_t id, int16_t x, int16_t y, int16_t cx, std::u16string text,
                bool isDefault = false) {
  return Item(id, kClassButton, kTabStop | (isDefault ? kDefPushButton : 0), x, y, cx, 14,
              std::move(text));
}
DialogItem Check(uint32_t id, int16_t x, int16_t y, int16_t cx, std::u16string text) {
  return Item(id, kClassButton, kTabStop | kAutoCheckBox, x, y, cx, 10, std::move(text));
}
DialogItem Label(int16_t x, int16_t y, int16_t cx, std::u16string text) {
  return Item(kNoControlId, kClassStatic, 0, x, y, cx, 8, std::move(text));
}
DialogItem Group(int16_t x, int16_t y, int16_t cx, int16_t cy, std::u16string text) {
  return Item(kNoControlId, kClassButton, kGroupBox, x, y, cx, cy, std::move(text));
}
DialogItem Edit(uint32_t id, uint32_t bits, int16_t x, int16_t y, int16_t cx, int16_t cy) {
  return Item(id, kClassEdit, kTabStop | bits, x, y, cx, cy, u"");
}

DialogResource Dialog(std::u16string title, int16_t cx, int16_t cy, std::vector<DialogItem> items) {
  DialogResource d;
  d.style = kDialogStyle;
  d.cx = cx;
  d.cy = cy;
  d.title = std::move(title);
  d.pointSize = 8;
  d.fontName = u"MS Sans Serif";
  d.items = std::move(items);
  return d;
}

ResourceSet MakeBuiltIn() {
  ResourceSet set;
  set.language = 0x0409;
  ForEachBuiltInStatusText([&](int id, std::u16string_view text) {
    if (id >= 0 && id <= 0xFFFF && !text.empty()) set.strings.emplace(id, std::u16string(text));
  });

  set.dialogs[kDialogAbout] = Dialog(
      u"About", 200, 66,
      {Item(kNoControlId, kClassStatic, kIcon, 8, 8, 21, 20, u""),
       Item(1001, kClassStatic, 0, 38, 9, 154, 8, u"Remote Agent"),
       Item(1002, kClassStatic, 0, 38, 21, 154, 20, u""), Push(1, 142, 45, 50, u"OK", true)});

  set.dialogs[kDialogStatus] = Dialog(
      u"Remote Agent", 161, 142,
      {Push(110, 7, 121, 45, u"&Start", true), Push(123, 109, 121, 45, u"E&xit"),
       Push(107, 58, 121, 45, u"S&etup"), Label(7, 7, 147, u"Connection status:"),
       Edit(104, kReadOnly | kBorder, 7, 17, 147, 12), Label(7, 61, 40, u"Log:"),
       Edit(105, kMultiLine | kReadOnly | kBorder | kVScroll | kAutoVScroll, 7, 71, 147, 45),
       Item(118, kClassStatic, 0, 7, 34, 147, 8, u"Device Connection via Serial Port (COM1)"),
       Edit(145, kReadOnly, 7, 46, 147, 10)});

  set.dialogs[kDialogSetup] = Dialog(
      u"Setup", 158, 138,
      {Group(7, 7, 144, 68, u"Device Connection"),
       Item(109, kClassButton, kTabStop | kAutoRadioButton, 15, 20, 60, 10, u"&Serial Port"),
       Item(113, kClassButton, kAutoRadioButton, 15, 40, 60, 10, u"&TCP/IP"),
       Item(116, kClassButton, kAutoRadioButton | kDisabled, 15, 58, 60, 10, u"&Infra Red"),
       Item(112, kClassComboBox, kTabStop | kVScroll | kDropDown | kComboSort, 80, 18, 64, 80, u""),
       Push(126, 80, 36, 64, u"&Advanced..."), Check(120, 7, 80, 144, u"&Run project on startup"),
       Check(146, 7, 92, 144, u"Lock project download"), Push(100, 7, 82, 70, u"&Users..."),
       Push(104, 81, 82, 70, u"&Data Protection"), Push(1, 27, 117, 50, u"OK", true),
       Push(2, 81, 117, 50, u"Cancel")});

  set.dialogs[kDialogUserList] = Dialog(
      u"Users allowed to connect", 161, 81,
      {Check(129, 7, 4, 147, u"Enable &security system"), Label(7, 18, 60, u"User List:"),
       Item(114, kClassListBox, kTabStop | kBorder | kVScroll | kListNotify, 7, 28, 90, 46, u""),
       Push(117, 104, 17, 50, u"&Add"), Push(119, 104, 32, 50, u"&Remove"),
       Push(121, 104, 47, 50, u"&Edit"), Push(1, 104, 62, 50, u"Close", true)});

  set.dialogs[kDialogEditUser] = Dialog(
      u"User", 161, 129,
      {Label(7, 9, 62, u"&User Name:"), Edit(106, kReadOnly | kBorder, 70, 7, 84, 12),
       Label(7, 25, 62, u"&Password:"), Edit(108, kPassword | kBorder, 70, 23, 84, 12),
       Label(7, 41, 62, u"&Confirm Password:"), Edit(111, kPassword | kBorder, 70, 39, 84, 12),
       Group(5, 56, 151, 50, u"Rights"), Check(131, 11, 68, 80, u"&Send To Target"),
       Check(132, 93, 68, 62, u"&Get From Target"),
       Check(134, 11, 80, 80, u"&Install System Files"), Check(136, 93, 80, 62, u"Send &File"),
       Check(138, 11, 92, 80, u"&Run/Stop"), Push(1, 27, 110, 50, u"OK", true),
       Push(2, 84, 110, 50, u"Cancel")});

  set.dialogs[kDialogSerial] =
      Dialog(u"Serial Advanced Settings", 131, 84,
             {Group(7, 4, 117, 54, u""), Label(14, 18, 40, u"Baud Rate:"),
              Item(115, kClassComboBox, kTabStop | kVScroll | kDropDownList | kComboSort, 58, 16,
                   58, 100, u""),
              Check(133, 14, 32, 100, u"&Control RTS"), Check(135, 14, 44, 100, u"&Verify CTS"),
              Push(1, 13, 64, 50, u"OK", true), Push(2, 68, 64, 50, u"Cancel")});

  set.menus[kMenuNotificationIcon] = {{0, 0, true, false, u"Menu"},
                                      {kCommandAbout, 1, false, false, u"&About"},
                                      {0, 1, false, true, u""},
                                      {kCommandExit, 1, false, false, u"E&xit"}};
  set.menus[kMenuMainFrame] = {{0, 0, true, false, u"&File"},
                               {kCommandExit, 1, false, false, u"E&xit"}};
  return set;
}

std::mutex& PackMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const ResourceSet>& Pack() {
  static std::shared_ptr<const ResourceSet> pack;
  return pack;
}

}  // namespace

const ResourceSet& BuiltInResources() {
  static const ResourceSet set = MakeBuiltIn();
  return set;
}

const DialogResource* BuiltInDialog(uint32_t id) {
  const auto& dialogs = BuiltInResources().dialogs;
  const auto it = dialogs.find(id);
  return it == dialogs.end() ? nullptr : &it->second;
}

void SetLanguageResources(std::shared_ptr<const ResourceSet> pack) {
  {
    std::lock_guard lock(PackMutex());
    Pack() = pack;
  }
  if (!pack) {
    SetStatusTextSource({});
    return;
  }
  SetStatusTextSource([pack](int id, std::u16string& out) {
    if (id < 0) return false;
    const auto it = pack->strings.find(static_cast<uint32_t>(id));
    if (it == pack->strings.end()) return false;
    out = it->second;
    return true;
  });
}

std::shared_ptr<const ResourceSet> LanguageResources() {
  std::lock_guard lock(PackMutex());
  return Pack();
}

std::u16string DialogTitle(uint32_t dialogId) {
  if (const auto pack = LanguageResources()) {
    const auto it = pack->dialogs.find(dialogId);
    if (it != pack->dialogs.end() && !it->second.title.empty()) return it->second.title;
  }
  const DialogResource* d = BuiltInDialog(dialogId);
  return d ? d->title : std::u16string();
}

std::u16string DialogItemText(uint32_t dialogId, size_t index) {
  const DialogResource* builtIn = BuiltInDialog(dialogId);
  if (!builtIn || index >= builtIn->items.size()) return {};
  const DialogItem& item = builtIn->items[index];
  if (const auto pack = LanguageResources()) {
    const auto it = pack->dialogs.find(dialogId);
    if (it != pack->dialogs.end()) {
      const auto& items = it->second.items;
      const bool hasId = item.id != kNoControlId && item.id != 0xFFFF;
      const DialogItem* found = nullptr;
      if (hasId) {
        found = pack->FindDialogItem(dialogId, item.id);
      } else if (index < items.size() &&
                 (items[index].id == kNoControlId || items[index].id == 0xFFFF)) {
        found = &items[index];
      }
      if (found && !found->text.empty()) return found->text;
    }
  }
  return item.text;
}

std::u16string MenuItemText(uint32_t menuId, uint32_t commandId) {
  if (const auto pack = LanguageResources()) {
    const MenuItem* item = pack->FindMenuItem(menuId, commandId);
    if (item && !item->text.empty()) return item->text;
  }
  const MenuItem* item = BuiltInResources().FindMenuItem(menuId, commandId);
  return item ? item->text : std::u16string();
}

}  // namespace perimo
