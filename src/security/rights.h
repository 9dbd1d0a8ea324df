#pragma once
// What the logged-in user may do. Every answer is a right word: 0 refused, non-zero granted;
// with security off everything is granted.
#include <cstdint>
#include <string_view>

#include "security/login_state.h"

namespace perimo {

// Right to write or remove at an absolute wire path. exeDir is the agent's folder (wire
// form): the project settings and the system folders are found from it.
uint16_t RightForPath(const LoginState& login, std::u16string_view exeDir,
                      std::u16string_view path);
uint16_t MayGetFromTarget(const LoginState& login);
uint16_t MayRunStop(const LoginState& login);

}  // namespace perimo
