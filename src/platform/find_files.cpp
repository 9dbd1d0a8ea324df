#include "platform/find_files.h"

#include <dirent.h>

#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace perimo::platform {

namespace {

// The file-search wildcards as the Windows kernel sees them after the Win32 layer's rewrite:
// '<' any run that stops short of the name's last dot, '>' one character that may vanish
// before a dot or at the end, '"' a dot that may vanish at the end.
constexpr char16_t kDosStar = u'<';
constexpr char16_t kDosQm = u'>';
constexpr char16_t kDosDot = u'"';

std::u16string Translate(std::u16string_view pattern) {
  if (pattern == u"." || pattern == u"..") return std::u16string(pattern);
  const bool endsInDot = !pattern.empty() && pattern.back() == u'.';
  // Trailing dots and blanks go as in every Windows name, but a final dot is meaningful.
  while (!pattern.empty() && (pattern.back() == u'.' || pattern.back() == u' ')) {
    pattern.remove_suffix(1);
  }
  std::u16string p(pattern);
  if (p.empty()) return p;
  if (endsInDot) p += u'.';
  if (p == u"*.*") return u"*";
  std::u16string out;
  for (size_t i = 0; i < p.size(); ++i) {
    const char16_t c = p[i];
    const char16_t next = i + 1 < p.size() ? p[i + 1] : u'\0';
    if (c == u'?') {
      out += kDosQm;
    } else if (c == u'.' && (next == u'?' || next == u'*' || next == u'\0')) {
      out += kDosDot;
    } else if (c == u'*' && next == u'.') {
      out += kDosStar;
    } else {
      out += c;
    }
  }
  return out;
}

class Matcher {
 public:
  Matcher(std::u16string_view expression, std::u16string_view name)
      : e_(expression), n_(name), memo_((e_.size() + 1) * (n_.size() + 1), kUnknown) {
    lastDot_ = n_.rfind(u'.');
  }

  bool Match(size_t ei, size_t ni) {
    int8_t& seen = memo_[ei * (n_.size() + 1) + ni];
    if (seen == kUnknown) seen = Compute(ei, ni) ? kYes : kNo;
    return seen == kYes;
  }

 private:
  static constexpr int8_t kUnknown = -1, kNo = 0, kYes = 1;

  bool Compute(size_t ei, size_t ni) {
    if (ei == e_.size()) return ni == n_.size();
    const bool atEnd = ni == n_.size();
    switch (e_[ei]) {
      case u'*':
        return Match(ei + 1, ni) || (!atEnd && Match(ei, ni + 1));
      case kDosStar:
        // May take characters up to, not including, the name's last dot.
        return Match(ei + 1, ni) ||
               (!atEnd && (lastDot_ == std::u16string_view::npos || ni != lastDot_) &&
                Match(ei, ni + 1));
      case kDosQm:
        if (atEnd || n_[ni] == u'.') return Match(ei + 1, ni);
        return Match(ei + 1, ni + 1);
      case kDosDot:
        if (atEnd) return Match(ei + 1, ni);
        return n_[ni] == u'.' && Match(ei + 1, ni + 1);
      default:
        return !atEnd && FoldCase(e_[ei]) == FoldCase(n_[ni]) && Match(ei + 1, ni + 1);
    }
  }

  std::u16string_view e_;
  std::u16string_view n_;
  std::vector<int8_t> memo_;
  size_t lastDot_;
};

bool MatchTranslated(std::u16string_view expression, std::u16string_view name) {
  if (expression.empty()) return false;
  return Matcher(expression, name).Match(0, 0);
}

}  // namespace

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  return MatchTranslated(Translate(pattern), name);
}

std::vector<FindEntry> FindFiles(std::u16string_view wirePattern) {
  size_t cut = wirePattern.size();
  while (cut > 0 && !IsSeparator(wirePattern[cut - 1])) --cut;
  if (cut == 0 && wirePattern.size() >= 2 && wirePattern[1] == u':') cut = 2;
  const std::u16string expression = Translate(wirePattern.substr(cut));
  const std::u16string_view wireFolder = wirePattern.substr(0, cut);
  const auto folder = ToNativePath(wireFolder.empty() ? std::u16string_view(u".") : wireFolder);
  std::vector<FindEntry> entries;
  if (!folder || expression.empty()) return entries;
  DIR* dir = opendir(folder->c_str());
  if (!dir) return entries;
  // A drive's top folder has no "." and ".." entries on Windows.
  const std::u16string wire = ToWirePath(*folder);
  const bool isRoot = (wire.size() == 3 && wire[1] == u':') || wire == u"\\\\?\\unix\\";
  const std::string prefix = folder->back() == '/' ? *folder : *folder + "/";
  while (const dirent* entry = readdir(dir)) {
    const std::string_view native(entry->d_name);
    if (isRoot && (native == "." || native == "..")) continue;
    std::u16string name = FromUtf8(native);
    if (!MatchTranslated(expression, name)) continue;
    const auto info = StatNative(prefix + std::string(native));
    if (!info) continue;  // vanished, or a link to nothing
    FindEntry found;
    found.name = std::move(name);
    found.attributes = info->attributes;
    found.size = info->size;
    found.times = info->times;
    entries.push_back(std::move(found));
  }
  closedir(dir);
  return entries;
}

}  // namespace perimo::platform
