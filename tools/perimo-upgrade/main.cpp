// perimo-upgrade, installed beside the agent as "UPGRADE.EXE": the agent starts it with
// /PID <its process id> /Perimo "<its folder>" and then closes; this program replaces the
// agent's files with those staged in the folder's "Upgrade" sub-folder and starts it again,
// going back to the old files when the new agent does not answer. It writes what it did to
// "UPGRADE.LOG" beside itself.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/known_folders.h"
#include "upgrade.h"

namespace {

constexpr const char* kUsage =
    "Usage: UPGRADE.EXE /PID <process id> /Perimo \"<agent folder>\" [/ExitWait <ms>] "
    "[/AnswerWait <ms>]\n"
    "Waits for the agent process to end, moves the files staged in <folder>/Upgrade into the\n"
    "agent's folder (backing up those it replaces in <folder>/Upgrade.bak), starts the agent\n"
    "again and waits until it answers; when it does not, restores the backup and starts the\n"
    "old agent. An empty staging folder only restarts the agent. The log is UPGRADE.LOG.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "/?")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string self = perimo::platform::ExecutablePath();
  const std::string folder = self.empty() ? std::filesystem::current_path().string()
                                          : std::filesystem::path(self).parent_path().string();
  FILE* logFile = std::fopen((folder + "/UPGRADE.LOG").c_str(), "a");
  auto log = [logFile](const std::string& line) {
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    FILE* out = logFile ? logFile : stderr;
    std::fprintf(out, "%s [%d] %s\n", stamp, static_cast<int>(getpid()), line.c_str());
    std::fflush(out);
  };
  // The agent may end its session as it closes; the upgrade must go on.
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);

  perimo::upgrade::Options options;
  options.folder = folder;
  std::string error;
  if (!perimo::upgrade::ParseCommandLine(args, options, error)) {
    log("bad command line: " + error);
    std::fprintf(stderr, "%s\n%s", error.c_str(), kUsage);
    if (logFile) std::fclose(logFile);
    return perimo::upgrade::kBadCommandLine;
  }
  const int outcome = perimo::upgrade::RunUpgrade(options, log);
  if (logFile) std::fclose(logFile);
  return outcome;
}
