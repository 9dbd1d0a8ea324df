#pragma once
// One perimo-ws command against one target: connects, runs, and leaves its readable text and
// its machine-readable result in an Output.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "workstation/session.h"

namespace perimo::ws {

struct Command {
  std::string name;    // info, ls, get, put, rm, mkdir, rmdir, ini, setting, reg, runtime, ...
  std::string action;  // get/set, start/stop/..., empty for the others
  std::vector<std::string> args;
  bool recursive = false;
  bool projects = false, system = false, drives = false;
  std::string compress = "auto";
  bool remove = false, dryRun = false;
  std::string fallback;             // default value of ini/setting get
  std::string staging = "Upgrade";  // upgrade staging folder on the target
  bool progress = false;            // draw transfer bars
};

struct Output {
  std::string text;  // readable result, printed on standard output
  nlohmann::json json = nlohmann::json::object();
};

// The exit code (0 done, 1 refused or failed, 2 usage, 3 connection, 4 login); on failure
// error holds the message.
int RunCommand(const Command& command, const workstation::ConnectOptions& connect, Output& output,
               std::string& error);

}  // namespace perimo::ws
