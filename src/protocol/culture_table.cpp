#include "protocol/culture_table.h"

#include <cstdlib>

namespace perimo {
namespace {

struct Culture {
  uint32_t lcid;
  const char* name;
};

// Neutral names for primary languages, language-country names for specific locales.
constexpr Culture kCultures[] = {
    {0x1, "ar"},
    {0x2, "bg"},
    {0x3, "ca"},
    {0x4, "zh-CHS"},
    {0x5, "cs"},
    {0x6, "da"},
    {0x7, "de"},
    {0x8, "el"},
    {0x9, "en"},
    {0xa, "es"},
    {0xb, "fi"},
    {0xc, "fr"},
    {0xd, "he"},
    {0xe, "hu"},
    {0xf, "is"},
    {0x10, "it"},
    {0x11, "ja"},
    {0x12, "ko"},
    {0x13, "nl"},
    {0x14, "no"},
    {0x15, "pl"},
    {0x16, "pt"},
    {0x18, "ro"},
    {0x19, "ru"},
    {0x1a, "hr"},
    {0x1b, "sk"},
    {0x1c, "sq"},
    {0x1d, "sv"},
    {0x1e, "th"},
    {0x1f, "tr"},
    {0x20, "ur"},
    {0x21, "id"},
    {0x22, "uk"},
    {0x23, "be"},
    {0x24, "sl"},
    {0x25, "et"},
    {0x26, "lv"},
    {0x27, "lt"},
    {0x29, "fa"},
    {0x2a, "vi"},
    {0x2b, "hy"},
    {0x2c, "az"},
    {0x2d, "eu"},
    {0x2f, "mk"},
    {0x36, "af"},
    {0x37, "ka"},
    {0x38, "fo"},
    {0x39, "hi"},
    {0x3e, "ms"},
    {0x3f, "kk"},
    {0x40, "ky"},
    {0x41, "sw"},
    {0x43, "uz"},
    {0x44, "tt"},
    {0x46, "pa"},
    {0x47, "gu"},
    {0x49, "ta"},
    {0x4a, "te"},
    {0x4b, "kn"},
    {0x4e, "mr"},
    {0x4f, "sa"},
    {0x50, "mn"},
    {0x56, "gl"},
    {0x57, "kok"},
    {0x5a, "syr"},
    {0x65, "div"},
    {0x401, "ar-SA"},
    {0x402, "bg-BG"},
    {0x403, "ca-ES"},
    {0x404, "zh-TW"},
    {0x405, "cs-CZ"},
    {0x406, "da-DK"},
    {0x407, "de-DE"},
    {0x408, "el-GR"},
    {0x409, "en-US"},
    {0x40a, "es-ES"},
    {0x40b, "fi-FI"},
    {0x40c, "fr-FR"},
    {0x40d, "he-IL"},
    {0x40e, "hu-HU"},
    {0x40f, "is-IS"},
    {0x410, "it-IT"},
    {0x411, "ja-JP"},
    {0x412, "ko-KR"},
    {0x413, "nl-NL"},
    {0x414, "nb-NO"},
    {0x415, "pl-PL"},
    {0x416, "pt-BR"},
    {0x418, "ro-RO"},
    {0x419, "ru-RU"},
    {0x41a, "hr-HR"},
    {0x41b, "sk-SK"},
    {0x41c, "sq-AL"},
    {0x41d, "sv-SE"},
    {0x41e, "th-TH"},
    {0x41f, "tr-TR"},
    {0x420, "ur-PK"},
    {0x421, "id-ID"},
    {0x422, "uk-UA"},
    {0x423, "be-BY"},
    {0x424, "sl-SI"},
    {0x425, "et-EE"},
    {0x426, "lv-LV"},
    {0x427, "lt-LT"},
    {0x429, "fa-IR"},
    {0x42a, "vi-VN"},
    {0x42b, "hy-AM"},
    {0x42c, "az-AZ-Latn"},
    {0x42d, "eu-ES"},
    {0x42f, "mk-MK"},
    {0x432, "tn-ZA"},
    {0x434, "xh-ZA"},
    {0x435, "zu-ZA"},
    {0x436, "af-ZA"},
    {0x437, "ka-GE"},
    {0x438, "fo-FO"},
    {0x439, "hi-IN"},
    {0x43a, "mt-MT"},
    {0x43b, "se-NO"},
    {0x43e, "ms-MY"},
    {0x43f, "kk-KZ"},
    {0x440, "ky-KG"},
    {0x441, "sw-KE"},
    {0x443, "uz-UZ-Latn"},
    {0x444, "tt-RU"},
    {0x445, "bn-IN"},
    {0x446, "pa-IN"},
    {0x447, "gu-IN"},
    {0x449, "ta-IN"},
    {0x44a, "te-IN"},
    {0x44b, "kn-IN"},
    {0x44c, "ml-IN"},
    {0x44e, "mr-IN"},
    {0x44f, "sa-IN"},
    {0x450, "mn-MN"},
    {0x452, "cy-GB"},
    {0x456, "gl-ES"},
    {0x457, "kok-IN"},
    {0x45a, "syr-SY"},
    {0x465, "div-MV"},
    {0x46b, "quz-BO"},
    {0x46c, "ns-ZA"},
    {0x481, "mi-NZ"},
    {0x801, "ar-IQ"},
    {0x804, "zh-CN"},
    {0x807, "de-CH"},
    {0x809, "en-GB"},
    {0x80a, "es-MX"},
    {0x80c, "fr-BE"},
    {0x810, "it-CH"},
    {0x813, "nl-BE"},
    {0x814, "nn-NO"},
    {0x816, "pt-PT"},
    {0x81a, "sr-SP-Latn"},
    {0x81d, "sv-FI"},
    {0x82c, "az-AZ-Cyrl"},
    {0x83b, "se-SE"},
    {0x83e, "ms-BN"},
    {0x843, "uz-UZ-Cyrl"},
    {0x86b, "quz-EC"},
    {0xc01, "ar-EG"},
    {0xc04, "zh-HK"},
    {0xc07, "de-AT"},
    {0xc09, "en-AU"},
    {0xc0c, "fr-CA"},
    {0xc1a, "sr-SP-Cyrl"},
    {0xc3b, "se-FI"},
    {0xc6b, "quz-PE"},
    {0x1001, "ar-LY"},
    {0x1004, "zh-SG"},
    {0x1007, "de-LU"},
    {0x1009, "en-CA"},
    {0x100a, "es-GT"},
    {0x100c, "fr-CH"},
    {0x101a, "hr-BA"},
    {0x103b, "smj-NO"},
    {0x1401, "ar-DZ"},
    {0x1404, "zh-MO"},
    {0x1407, "de-LI"},
    {0x1409, "en-NZ"},
    {0x140a, "es-CR"},
    {0x140c, "fr-LU"},
    {0x141a, "bs-BA-Latn"},
    {0x143b, "smj-SE"},
    {0x1801, "ar-MA"},
    {0x1809, "en-IE"},
    {0x180a, "es-PA"},
    {0x180c, "fr-MC"},
    {0x181a, "sr-BA-Latn"},
    {0x183b, "sma-NO"},
    {0x1c01, "ar-TN"},
    {0x1c09, "en-ZA"},
    {0x1c0a, "es-DO"},
    {0x1c1a, "sr-BA-Cyrl"},
    {0x1c3b, "sma-SE"},
    {0x2001, "ar-OM"},
    {0x2009, "en-JM"},
    {0x200a, "es-VE"},
    {0x203b, "sms-FI"},
    {0x2401, "ar-YE"},
    {0x2409, "en-CB"},
    {0x240a, "es-CO"},
    {0x243b, "smn-FI"},
    {0x2801, "ar-SY"},
    {0x2809, "en-BZ"},
    {0x280a, "es-PE"},
    {0x2c01, "ar-JO"},
    {0x2c09, "en-TT"},
    {0x2c0a, "es-AR"},
    {0x3001, "ar-LB"},
    {0x3009, "en-ZW"},
    {0x300a, "es-EC"},
    {0x3401, "ar-KW"},
    {0x3409, "en-PH"},
    {0x340a, "es-CL"},
    {0x3801, "ar-AE"},
    {0x380a, "es-UY"},
    {0x3c01, "ar-BH"},
    {0x3c0a, "es-PY"},
    {0x4001, "ar-QA"},
    {0x400a, "es-BO"},
    {0x440a, "es-SV"},
    {0x480a, "es-HN"},
    {0x4c0a, "es-NI"},
    {0x500a, "es-PR"},
    {0x7c04, "zh-CHT"},
    {0x7c1a, "sr"},
};

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string_view CultureName(uint32_t lcid) {
  for (const Culture& c : kCultures) {
    if (c.lcid == lcid) return c.name;
  }
  return {};
}

uint32_t LocaleIdOfCulture(std::string_view culture) {
  for (const Culture& c : kCultures) {
    if (EqualsIgnoringCase(c.name, culture)) return c.lcid;
  }
  return 0;
}

uint32_t LocaleIdOfPosixLocale(std::string_view posixName) {
  // language[_territory][.codeset][@modifier]
  const size_t end = posixName.find_first_of(".@");
  std::string culture(posixName.substr(0, end));
  for (char& c : culture) {
    if (c == '_') c = '-';
  }
  if (culture.empty()) return 0;
  if (uint32_t lcid = LocaleIdOfCulture(culture); lcid != 0 && culture.find('-') != culture.npos) {
    return lcid;
  }
  const uint32_t neutral = LocaleIdOfCulture(culture.substr(0, culture.find('-')));
  if (neutral == 0 || neutral > 0x3FF) return 0;
  const uint32_t specific = neutral | 0x400;
  return CultureName(specific).empty() ? 0 : specific;
}

uint32_t UserDefaultLocaleId() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    const uint32_t lcid = LocaleIdOfPosixLocale(value);
    return lcid != 0 ? lcid : kLocaleEnglishUs;
  }
  return kLocaleEnglishUs;
}

}  // namespace perimo
