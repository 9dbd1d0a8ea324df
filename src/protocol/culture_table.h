#pragma once
// Locale identifiers (LCIDs) and their culture names ("de-DE", "de", "zh-CHS"), and the
// user's locale identifier taken from the POSIX locale environment.
#include <cstdint>
#include <string>
#include <string_view>

namespace perimo {

constexpr uint32_t kLocaleEnglishUs = 0x0409;  // 1033

// The culture name of a locale identifier; empty when it is not listed.
std::string_view CultureName(uint32_t lcid);
// The locale identifier of a culture name (ignoring case); 0 when it is not listed.
uint32_t LocaleIdOfCulture(std::string_view culture);
// A POSIX locale name ("de_DE.UTF-8@euro", "pt_BR", "fr") as a locale identifier: the
// language-country pair when listed, else the language's main country (primary language
// with sub-language 1), else 0.
uint32_t LocaleIdOfPosixLocale(std::string_view posixName);
// The user's default locale identifier: LC_ALL, LC_MESSAGES or LANG (the first one set and
// not empty), else kLocaleEnglishUs; also kLocaleEnglishUs for "C", "POSIX" and unknown names.
uint32_t UserDefaultLocaleId();

}  // namespace perimo
