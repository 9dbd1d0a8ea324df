#include "platform/profile.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace perimo::platform {

namespace {

enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le, kLatin1 };

struct Line {
  std::u16string text;
  std::u16string ending;  // "\r\n", "\n", "\r" or empty on a last line without one
};

struct Document {
  Encoding encoding = Encoding::kUtf8;
  std::u16string newline = u"\r\n";
  std::vector<Line> lines;
};

// What a line means to the reader: a section header, a key with its value, or nothing.
struct ParsedLine {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::u16string_view name;
  std::u16string_view value;
};

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::u16string_view StripQuotes(std::u16string_view value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

ParsedLine Parse(std::u16string_view text) {
  text = text.substr(0, text.find(u'\0'));  // a zero ends the line's text
  text = Trim(text);
  ParsedLine parsed;
  if (!text.empty() && text.front() == u'[') {
    const size_t close = text.rfind(u']');
    if (close != std::u16string_view::npos) {
      parsed.kind = ParsedLine::kSection;
      parsed.name = Trim(text.substr(1, close - 1));
      return parsed;
    }
  }
  const size_t equals = text.find(u'=');
  if (equals == std::u16string_view::npos) return parsed;
  parsed.kind = ParsedLine::kKey;
  parsed.name = Trim(text.substr(0, equals));
  parsed.value = StripQuotes(Trim(text.substr(equals + 1)));
  return parsed;
}

Document Decode(const std::string& bytes) {
  Document doc;
  std::u16string text;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
      static_cast<uint8_t>(bytes[1]) == 0xFE) {
    doc.encoding = Encoding::kUtf16Le;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                    (static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    doc.encoding = Encoding::kUtf8Bom;
    text = FromUtf8(std::string_view(bytes).substr(3));
  } else if (IsValidUtf8(bytes)) {
    text = FromUtf8(bytes);
  } else {
    doc.encoding = Encoding::kLatin1;  // an older file written in a Windows code page
    text = FromLatin1(bytes);
  }
  bool newlineSeen = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    size_t next = end;
    if (next < text.size())
      next += (text[next] == u'\r' && next + 1 < text.size() && text[next + 1] == u'\n') ? 2 : 1;
    Line line{text.substr(start, end - start), text.substr(end, next - end)};
    if (!newlineSeen && !line.ending.empty()) {
      doc.newline = line.ending;
      newlineSeen = true;
    }
    doc.lines.push_back(std::move(line));
    start = next;
  }
  return doc;
}

std::string Encode(const Document& doc) {
  std::u16string text;
  for (const Line& line : doc.lines) text += line.text + line.ending;
  switch (doc.encoding) {
    case Encoding::kUtf16Le: {
      std::string bytes = "\xFF\xFE";
      for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
      }
      return bytes;
    }
    case Encoding::kUtf8Bom:
      return "\xEF\xBB\xBF" + ToUtf8(text);
    case Encoding::kLatin1:
      for (const char16_t c : text) {
        if (c > 0xFF) return ToUtf8(text);  // Latin-1 cannot hold it: move the file to UTF-8
      }
      return ToLatin1(text);
    case Encoding::kUtf8:
      break;
  }
  return ToUtf8(text);
}

// Settings files are small; a request naming something huge must not exhaust memory.
constexpr size_t kMaxProfileBytes = 16 * 1024 * 1024;

// Loads the file; a missing file is an empty document, other read failures are failures.
std::optional<Document> Load(const std::string& nativePath) {
  std::string bytes;
  if (!ReadWholeFile(nativePath, bytes, kMaxProfileBytes)) {
    if (errno == ENOENT) return Document{};
    return std::nullopt;
  }
  return Decode(bytes);
}

// The lines of the section's first match: from after its header to the next header. Named
// sections come first; section "" falls back to the lines before any header.
struct Block {
  size_t begin = 0;
  size_t end = 0;
  bool found = false;
};

Block FindSection(const Document& doc, std::u16string_view section) {
  section = Trim(section);
  Block block;
  size_t firstHeader = doc.lines.size();
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    const ParsedLine parsed = Parse(doc.lines[i].text);
    if (parsed.kind != ParsedLine::kSection) continue;
    if (block.found) {
      block.end = i;
      return block;
    }
    if (firstHeader == doc.lines.size()) firstHeader = i;
    if (EqualsIgnoreCase(parsed.name, section)) {
      block = {i + 1, doc.lines.size(), true};
    }
  }
  if (!block.found && section.empty()) block = {0, firstHeader, true};
  return block;
}

// A read finds only key lines; a write also takes a line that holds just the key's name
// (no '=') and turns it into key=value.
std::optional<size_t> FindKey(const Document& doc, const Block& block, std::u16string_view key,
                              bool forWrite = false) {
  key = Trim(key);
  for (size_t i = block.begin; i < block.end; ++i) {
    const ParsedLine parsed = Parse(doc.lines[i].text);
    if (parsed.kind == ParsedLine::kKey && EqualsIgnoreCase(parsed.name, key)) return i;
    if (forWrite && parsed.kind == ParsedLine::kOther && !key.empty()) {
      const std::u16string_view text = doc.lines[i].text;
      if (EqualsIgnoreCase(Trim(text.substr(0, text.find(u'\0'))), key)) return i;
    }
  }
  return std::nullopt;
}

std::optional<std::u16string> LookUp(const std::optional<std::string>& nativePath,
                                     std::u16string_view section, std::u16string_view key) {
  if (!nativePath) return std::nullopt;
  const auto doc = Load(*nativePath);
  if (!doc) return std::nullopt;
  const Block block = FindSection(*doc, section);
  if (!block.found) return std::nullopt;
  const auto line = FindKey(*doc, block, key);
  if (!line) return std::nullopt;
  return std::u16string(Parse(doc->lines[*line].text).value);
}

uint32_t CopyOut(std::u16string_view value, std::u16string& out, uint32_t bufferChars) {
  const size_t count = bufferChars == 0 ? 0 : std::min<size_t>(value.size(), bufferChars - 1);
  out.assign(value.substr(0, count));
  return static_cast<uint32_t>(count);
}

// A default loses its trailing blanks, then its quotes, as a value from the file does.
std::u16string_view TrimDefault(std::u16string_view value) {
  while (!value.empty() && value.back() == u' ') value.remove_suffix(1);
  return StripQuotes(value);
}

// Decimal, or "0x" hexadecimal, "0o" octal, "0b" binary; an optional sign; the digits end
// at the first character that is not one; the result wraps to 32 bits.
uint32_t ParseProfileInt(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] <= u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == u'0') {
    const char16_t prefix = text[i + 1];
    base = prefix == u'x' ? 16 : prefix == u'o' ? 8 : prefix == u'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    uint32_t digit = 99;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

bool Write(const std::optional<std::string>& nativePath, std::u16string_view section,
           std::u16string_view key, std::u16string_view value) {
  if (!nativePath) return false;
  auto loaded = Load(*nativePath);
  if (!loaded) return false;
  Document& doc = *loaded;
  const std::u16string entry = std::u16string(Trim(key)) + u"=" + std::u16string(value);
  const Block block = FindSection(doc, section);
  if (block.found) {
    if (const auto line = FindKey(doc, block, key, true)) {
      const ParsedLine parsed = Parse(doc.lines[*line].text);
      if (parsed.kind == ParsedLine::kKey && parsed.value == value) {
        return true;  // nothing changes: leave the file as it is
      }
      const std::u16string_view text = doc.lines[*line].text;
      const std::u16string_view name =
          parsed.kind == ParsedLine::kKey ? parsed.name : Trim(text.substr(0, text.find(u'\0')));
      doc.lines[*line].text = std::u16string(name) + u"=" + std::u16string(value);
    } else {
      size_t at = block.begin;  // after the section's last non-blank line
      for (size_t i = block.begin; i < block.end; ++i) {
        if (!Trim(doc.lines[i].text).empty()) at = i + 1;
      }
      doc.lines.insert(doc.lines.begin() + static_cast<ptrdiff_t>(at), Line{entry, doc.newline});
    }
  } else {
    doc.lines.push_back(Line{u"[" + std::u16string(Trim(section)) + u"]", doc.newline});
    doc.lines.push_back(Line{entry, doc.newline});
  }
  for (Line& line : doc.lines) {
    if (line.ending.empty()) line.ending = doc.newline;
  }
  return ReplaceFileAtomically(*nativePath, Encode(doc));
}

}  // namespace

uint32_t GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, std::u16string& out,
                                 uint32_t bufferChars, std::u16string_view wireFile) {
  const auto value = LookUp(ToNativePath(wireFile), section, key);
  return CopyOut(value ? std::u16string_view(*value) : TrimDefault(defaultValue), out, bufferChars);
}

std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, std::u16string_view wireFile,
                                 uint32_t bufferChars) {
  std::u16string out;
  GetPrivateProfileString(section, key, defaultValue, out, bufferChars, wireFile);
  return out;
}

uint32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key,
                              int32_t defaultValue, std::u16string_view wireFile) {
  const auto value = LookUp(ToNativePath(wireFile), section, key);
  if (!value || value->empty()) return static_cast<uint32_t>(defaultValue);
  return ParseProfileInt(*value);
}

bool WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, std::u16string_view wireFile) {
  return Write(ToNativePath(wireFile), section, key, value);
}

std::u16string ReadNativeProfileString(const std::string& nativeFile, std::u16string_view section,
                                       std::u16string_view key, std::u16string_view defaultValue) {
  const auto value = LookUp(nativeFile, section, key);
  return std::u16string(value ? std::u16string_view(*value) : TrimDefault(defaultValue));
}

bool WriteNativeProfileString(const std::string& nativeFile, std::u16string_view section,
                              std::u16string_view key, std::u16string_view value) {
  return Write(nativeFile, section, key, value);
}

}  // namespace perimo::platform
