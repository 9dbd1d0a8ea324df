#pragma once
// Hand-over to the upgrade program "UPGRADE.EXE" beside the agent, which is told the agent's
// process id and folder: /PID <pid> /Perimo "<exeDir>". After a successful start the agent
// replies and closes through its normal exit.
#include <string>
#include <string_view>

#include "protocol/request.h"

namespace perimo {

void Upgrade(Request& request);  // 0x3C: 06 '1' started, 06 '0' not

std::u16string UpgradeCommandLine(int pid, std::u16string_view exeDir);

}  // namespace perimo
