#pragma once
// The data protection library's two commands. Reply on failure: 15 44.
#include "protocol/request.h"

namespace perimo {

void GetProtectionDeviceId(Request& request);  // 0x3D
void SetProtectionPassword(Request& request);  // 0x3E: 8-bit password

}  // namespace perimo
