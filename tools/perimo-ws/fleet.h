#pragma once
// One command against many targets, a few at a time, with a summary table.
#include <iosfwd>
#include <string>
#include <vector>

#include "commands.h"

namespace perimo::ws {

// Targets of a hosts file: one HOST[:PORT] per line; blank lines and lines starting with '#'
// are skipped. False with error set when a line is not a target.
bool ReadHostsFile(const std::string& path, std::vector<std::string>& targets, std::string& error);

// Runs the command against every target, parallel at a time; prints each target's output
// (or its JSON line) and then the summary. The exit code: 0 when every target succeeded,
// else the largest exit code among them.
int RunFleet(const Command& command, const workstation::ConnectOptions& base,
             const std::vector<std::string>& targets, int parallel, bool json, std::ostream& out);

}  // namespace perimo::ws
