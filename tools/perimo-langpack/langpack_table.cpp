#include "langpack_table.h"

#include <charconv>
#include <vector>

#include "platform/text.h"

namespace perimo::langpack {
namespace {

std::string Escape(const std::u16string& text) {
  std::string out;
  for (char c : platform::ToUtf8(text)) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::u16string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char next = text[++i];
    out.push_back(next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next);
  }
  return platform::FromUtf8(out);
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  // The text is the last field and keeps any further tab as it stands (escaped ones are \t).
  while (fields.size() < 3) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) break;
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

bool Number(std::string_view text, uint32_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc() && end == text.data() + text.size();
}

// "#n": a position; otherwise an id.
bool Key(std::string_view text, bool& byPosition, uint32_t& value) {
  byPosition = !text.empty() && text[0] == '#';
  if (byPosition) text.remove_prefix(1);
  return Number(text, value);
}

}  // namespace

std::string FormatTable(const ResourceSet& set) {
  std::string out = "# Language pack table: kind, resource id, control or command, text.\n";
  char language[16];
  std::snprintf(language, sizeof language, "0x%04X", set.language);
  out += "language\t" + std::string(language) + "\n";
  for (const auto& [id, text] : set.strings) {
    out += "string\t" + std::to_string(id) + "\t" + Escape(text) + "\n";
  }
  for (const auto& [id, dialog] : set.dialogs) {
    const std::string prefix = "dialog\t" + std::to_string(id) + "\t";
    out += prefix + "title\t" + Escape(dialog.title) + "\n";
    for (size_t i = 0; i < dialog.items.size(); ++i) {
      const DialogItem& item = dialog.items[i];
      if (item.text.empty()) continue;
      const bool hasId = item.id != 0xFFFFFFFF && item.id != 0xFFFF;
      out += prefix + (hasId ? std::to_string(item.id) : "#" + std::to_string(i)) + "\t" +
             Escape(item.text) + "\n";
    }
  }
  for (const auto& [id, items] : set.menus) {
    for (size_t i = 0; i < items.size(); ++i) {
      const MenuItem& item = items[i];
      if (item.separator || item.text.empty()) continue;
      out += "menu\t" + std::to_string(id) + "\t" +
             (item.popup ? "#" + std::to_string(i) : std::to_string(item.id)) + "\t" +
             Escape(item.text) + "\n";
    }
  }
  return out;
}

bool ApplyTable(std::string_view table, ResourceSet& base, std::string& error) {
  base.strings.clear();
  size_t lineNumber = 0;
  while (!table.empty()) {
    ++lineNumber;
    const size_t end = table.find('\n');
    std::string_view line = table.substr(0, end);
    table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    const auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(lineNumber) + ": " + what;
      return false;
    };
    const std::vector<std::string_view> f = Fields(line);
    uint32_t id = 0;
    if (f[0] == "language" && f.size() == 2) {
      if (!Number(f[1], id) || id > 0xFFFF) return fail("language is not a 16-bit number");
      base.language = static_cast<uint16_t>(id);
    } else if (f[0] == "string" && f.size() == 3) {
      if (!Number(f[1], id) || id > 0xFFFF) return fail("string id is not a 16-bit number");
      base.strings[id] = Unescape(f[2]);
    } else if ((f[0] == "dialog" || f[0] == "menu") && f.size() == 4) {
      if (!Number(f[1], id)) return fail("resource id is not a number");
      bool byPosition = false;
      uint32_t key = 0;
      const std::u16string text = Unescape(f[3]);
      if (f[0] == "dialog") {
        const auto dialog = base.dialogs.find(id);
        if (dialog == base.dialogs.end()) return fail("no dialog " + std::to_string(id));
        if (f[2] == "title") {
          dialog->second.title = text;
          continue;
        }
        if (!Key(f[2], byPosition, key)) return fail("control is neither an id nor #position");
        auto& items = dialog->second.items;
        DialogItem* item = nullptr;
        if (byPosition) {
          if (key < items.size()) item = &items[key];
        } else {
          for (DialogItem& candidate : items) {
            if (candidate.id == key) item = &candidate;
          }
        }
        if (!item) return fail("dialog " + std::to_string(id) + " has no such control");
        item->text = text;
      } else {
        const auto menu = base.menus.find(id);
        if (menu == base.menus.end()) return fail("no menu " + std::to_string(id));
        if (!Key(f[2], byPosition, key)) return fail("command is neither an id nor #position");
        MenuItem* item = nullptr;
        for (size_t i = 0; i < menu->second.size(); ++i) {
          MenuItem& candidate = menu->second[i];
          if (byPosition ? i == key : (!candidate.popup && candidate.id == key)) item = &candidate;
        }
        if (!item) return fail("menu " + std::to_string(id) + " has no such item");
        item->text = text;
      }
    } else {
      return fail("expected language, string, dialog or menu with its fields");
    }
  }
  return true;
}

}  // namespace perimo::langpack
