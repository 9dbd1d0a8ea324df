#pragma once
// What the workstation is talking to. Every reply is 06 followed by 8-bit text fields, each
// ended by a zero byte, whatever the wide-strings flag says; the payloads are ignored.
#include <cstdint>
#include <string>

#include "protocol/request.h"

namespace perimo {

// 06 "NT" 00 "48" 00 "UNICODE" 00 <OS name> 00 <"1" administrator | "0"> 00; then the TCP
// link switches to framed mode.
void GetOsVersion(Request& request);  // 0x13
// 06 <product> " " <version> 00 "7.12" 00 <extension value> 00 <free KB> 00 <delay> 00
// <packSize> 00, from "Program Settings.INI" in the agent's folder.
void GetProductVersion(Request& request);  // 0x14
// 06 <locale identifier, unsigned decimal> 00
void GetUserLocale(Request& request);  // 0x36
// 06 <low byte of lockDownload>
void GetDownloadLock(Request& request);  // 0x3A

// "v%.1f" or "v%.1f+SP%d" from the Install/Version text (a decimal fraction, read as far as
// it is a number) and the service pack; independent of the C locale.
std::string FormatInstallVersion(std::u16string_view versionText, int32_t servicePack);

// The value packed from the two numbers "GetCookieData" returns: the second's low 16 bits
// above the first's.
int32_t PackCookie(int32_t first, int32_t second);

}  // namespace perimo
