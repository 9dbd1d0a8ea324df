#pragma once
// The security commands: learning the security state, opening the encrypted link, logging in.
//
// 0x24 GetSecurityState: reply 06 '0' security off, '1' on with users, '2' on without users.
// 0x3B OpenSecureLink:   reply 06, hexadecimal characters of the fresh link key encrypted
//                        under the pre-shared key, 00. The link cipher takes the new key
//                        before the reply is sent; the secure link opens after it.
// 0x25 Login:            request name[32] plain 8-bit, password[32] scrambled; reply
//                        06 '1' u16 × 5 rights, or 06 '0' and a 10-second pause.
#include <cstdint>
#include <string>

#include "protocol/request.h"

namespace perimo {

constexpr uint32_t kFailedLoginPauseMilliseconds = 10000;
constexpr size_t kMaxInternalKeyChars = 511;

void GetSecurityState(Request& request);  // 0x24
void Login(Request& request);             // 0x25
void OpenSecureLink(Request& request);    // 0x3B

// "%02d/%02d/%d %02d:%02d:%02d %d": month, day, year, hour, minute, second of the local
// time and a number from 0 to 32767. Its first 16 characters key the link.
std::u16string MakeLinkKey();

}  // namespace perimo
