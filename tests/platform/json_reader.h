#pragma once
// A small JSON reader for the recorded behaviour tables: objects, arrays, strings (with \u
// escapes, surrogate pairs joined), numbers, true, false and null. Text is kept as UTF-16.
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace perimo::testing {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::u16string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  bool IsNull() const { return kind == kNull; }
  const Json& operator[](const std::string& key) const {
    static const Json null;
    const auto it = fields.find(key);
    return it == fields.end() ? null : it->second;
  }
  std::string Ascii() const { return std::string(text.begin(), text.end()); }
};

class JsonParser {
 public:
  explicit JsonParser(std::string text) : s_(std::move(text)) {}

  Json Parse() {
    Json value = Value();
    Skip();
    if (pos_ != s_.size()) Fail("trailing text");
    return value;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(pos_));
  }
  void Skip() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    Skip();
    if (pos_ < s_.size() && s_[pos_] == c) return ++pos_, true;
    return false;
  }
  void Expect(char c) {
    if (!Eat(c)) Fail("unexpected character");
  }
  bool Word(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }

  Json Value() {
    Skip();
    Json v;
    if (pos_ >= s_.size()) Fail("unexpected end");
    const char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      v.kind = Json::kObject;
      if (Eat('}')) return v;
      do {
        Skip();
        Json key = String();
        Expect(':');
        v.fields[key.Ascii()] = Value();
      } while (Eat(','));
      Expect('}');
    } else if (c == '[') {
      ++pos_;
      v.kind = Json::kArray;
      if (Eat(']')) return v;
      do v.items.push_back(Value());
      while (Eat(','));
      Expect(']');
    } else if (c == '"') {
      v = String();
    } else if (Word("true")) {
      v.kind = Json::kBool, v.boolean = true;
    } else if (Word("false")) {
      v.kind = Json::kBool;
    } else if (Word("null")) {
    } else {
      char* end = nullptr;
      v.kind = Json::kNumber;
      v.number = std::strtod(s_.c_str() + pos_, &end);
      if (end == s_.c_str() + pos_) Fail("bad value");
      pos_ = static_cast<size_t>(end - s_.c_str());
    }
    return v;
  }

  Json String() {
    Json v;
    v.kind = Json::kString;
    if (pos_ >= s_.size() || s_[pos_] != '"') Fail("string expected");
    ++pos_;
    std::string utf8;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c != '\\') {
        utf8 += c;
        continue;
      }
      if (pos_ >= s_.size()) Fail("bad escape");
      c = s_[pos_++];
      switch (c) {
        case 'n':
          utf8 += '\n';
          break;
        case 'r':
          utf8 += '\r';
          break;
        case 't':
          utf8 += '\t';
          break;
        case 'b':
          utf8 += '\b';
          break;
        case 'f':
          utf8 += '\f';
          break;
        case 'u': {
          Flush(utf8, v.text);
          if (pos_ + 4 > s_.size()) Fail("bad \\u");
          v.text += static_cast<char16_t>(std::stoul(s_.substr(pos_, 4), nullptr, 16));
          pos_ += 4;
          break;
        }
        default:
          utf8 += c;
      }
    }
    if (pos_ >= s_.size()) Fail("unterminated string");
    ++pos_;
    Flush(utf8, v.text);
    return v;
  }

  // The tables hold ASCII and UTF-8 text; decode the pending bytes into UTF-16.
  static void Flush(std::string& utf8, std::u16string& out) {
    for (size_t i = 0; i < utf8.size();) {
      const auto b = static_cast<unsigned char>(utf8[i]);
      char32_t cp = b;
      size_t len = 1;
      if (b >= 0xF0)
        cp = b & 0x07, len = 4;
      else if (b >= 0xE0)
        cp = b & 0x0F, len = 3;
      else if (b >= 0xC0)
        cp = b & 0x1F, len = 2;
      for (size_t k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
      if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp);
      }
      i += len;
    }
    utf8.clear();
  }

  std::string s_;
  size_t pos_ = 0;
};

// Loads table `name` from PERIMO_CONFORMANCE_DIR, else from the tree this file is in (so the
// test binary also runs outside ctest).
inline Json LoadConformanceTable(const std::string& name) {
  const char* dir = std::getenv("PERIMO_CONFORMANCE_DIR");
  const std::string here = __FILE__;
  const std::string folder = dir ? dir : here.substr(0, here.rfind("/platform/")) + "/conformance";
  std::ifstream in(folder + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open conformance table " + folder + "/" + name);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return JsonParser(buffer.str()).Parse();
}

}  // namespace perimo::testing
