#pragma once
// The command table: one handler per command code (byte 0 of a frame). A null entry is a code
// without a handler; the dispatcher reports it as an invalid frame.
#include <array>

#include "protocol/request.h"

namespace perimo {

using CommandTable = std::array<CommandHandler, 256>;

const CommandTable& Commands();

// One handler serves two codes and differs only in whether it replies (0x03/0x38 and
// 0x2D/0x37): the table holds this wrapper for each code.
template <void (*Shared)(Request&, bool), bool kReply>
void SharedHandler(Request& request) {
  Shared(request, kReply);
}

}  // namespace perimo
