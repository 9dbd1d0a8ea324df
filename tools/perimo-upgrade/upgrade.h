#pragma once
// The upgrade of an agent folder: wait for the running agent to end, back up every file the
// staging folder "Upgrade" will replace, move the staged files in (one rename each), start the
// agent again and wait until it answers on its main-window endpoint; when it does not, put
// the old files back and start the old agent.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace perimo::upgrade {

struct Options {
  pid_t agentPid = 0;
  std::string agentFolderWire;  // as the agent named its folder (for the log)
  std::string folder;           // native folder of the agent and of this program
  int exitWaitMs = 30000;       // for the old agent to end
  int answerWaitMs = 20000;     // for the new agent to answer
};

// Exit codes of the program.
enum Outcome : int {
  kUpgraded = 0,
  kRolledBack = 1,
  kBadCommandLine = 2,
  kAgentDidNotEnd = 3,
  kNotAnAgent = 4,
  kFailed = 5,  // rolled back, and the old agent did not answer either
};

// Parses "/PID n /Perimo "folder" [/ExitWait ms] [/AnswerWait ms]" (switches in any case).
bool ParseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error);

using Logger = std::function<void(const std::string&)>;

// Runs the whole upgrade; every step and its outcome go to log.
Outcome RunUpgrade(const Options& options, const Logger& log);

// Relative paths of the regular files (and links) under a folder, sorted.
std::vector<std::string> StagedFiles(const std::string& stagingFolder);

}  // namespace perimo::upgrade
