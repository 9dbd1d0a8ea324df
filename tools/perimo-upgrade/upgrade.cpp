#include "upgrade.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "platform/window_endpoint.h"

namespace perimo::upgrade {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char16_t kAgentWindowClass[] = u"PerimoClass";
constexpr uint32_t kWmNull = 0;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// What the running agent was: its program, arguments and folder, to start it the same way.
struct AgentProcess {
  std::string exe;
  std::vector<std::string> args;
  std::string cwd;
  unsigned long long startTime = 0;
};

std::string ReadLink(const std::string& path) {
  std::error_code error;
  const fs::path target = fs::read_symlink(path, error);
  return error ? std::string() : target.string();
}

// Fields of /proc/<pid>/stat after the command name: state first, start time 20th.
std::optional<std::vector<std::string>> StatFields(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(text.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string field; rest >> field;) fields.push_back(field);
  if (fields.size() < 20) return std::nullopt;
  return fields;
}

std::optional<AgentProcess> ReadAgentProcess(pid_t pid) {
  const auto fields = StatFields(pid);
  if (!fields) return std::nullopt;
  AgentProcess agent;
  agent.startTime = std::strtoull((*fields)[19].c_str(), nullptr, 10);
  const std::string proc = "/proc/" + std::to_string(pid);
  agent.exe = ReadLink(proc + "/exe");
  constexpr std::string_view kDeleted = " (deleted)";
  if (agent.exe.size() > kDeleted.size() && agent.exe.ends_with(kDeleted)) {
    agent.exe.resize(agent.exe.size() - kDeleted.size());
  }
  agent.cwd = ReadLink(proc + "/cwd");
  std::ifstream cmdline(proc + "/cmdline", std::ios::binary);
  std::string arg;
  bool first = true;
  while (std::getline(cmdline, arg, '\0')) {
    if (!first) agent.args.push_back(arg);
    first = false;
  }
  if (agent.exe.empty()) return std::nullopt;
  return agent;
}

// Gone, a zombie, or another process that took the id since.
bool HasEnded(pid_t pid, unsigned long long startTime) {
  const auto fields = StatFields(pid);
  if (!fields) return true;
  const std::string& state = (*fields)[0];
  if (state == "Z" || state == "X") return true;
  return std::strtoull((*fields)[19].c_str(), nullptr, 10) != startTime;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

bool ParseMilliseconds(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  out = std::stoi(text);
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// One staged file and what it replaces.
struct Replacement {
  std::string relative;
  bool existed = false;
  mode_t mode = 0;
  bool movedIn = false;
};

class Upgrade {
 public:
  Upgrade(const Options& options, const Logger& log)
      : options_(options),
        log_(log),
        folder_(options.folder),
        staging_(folder_ / "Upgrade"),
        backup_(folder_ / "Upgrade.bak") {}

  Outcome Run();

 private:
  bool WaitForAgentToEnd(const AgentProcess& agent);
  bool BackUp(std::vector<Replacement>& files);
  bool MoveIn(std::vector<Replacement>& files);
  void Restore(std::vector<Replacement>& files);
  void CleanStaging();
  // Starts the agent and waits until its main window answers; false (with the process
  // stopped) when it does not.
  bool StartAndWaitForAnswer(const AgentProcess& agent, const char* which);

  const Options& options_;
  const Logger& log_;
  fs::path folder_;
  fs::path staging_;
  fs::path backup_;
};

bool Upgrade::WaitForAgentToEnd(const AgentProcess& agent) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.exitWaitMs);
  while (!HasEnded(options_.agentPid, agent.startTime)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

// Every file that will be replaced gets a second name in the backup folder (a hard link, or a
// copy where links are not possible), so the old content survives the rename over it.
bool Upgrade::BackUp(std::vector<Replacement>& files) {
  std::error_code error;
  fs::remove_all(backup_, error);
  for (Replacement& file : files) {
    const fs::path target = folder_ / file.relative;
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0) {
      if (errno == ENOENT) continue;
      log_("cannot look at " + target.string() + ": " + std::strerror(errno));
      return false;
    }
    if (S_ISDIR(info.st_mode)) {
      log_("cannot replace the folder " + target.string() + " by a file");
      return false;
    }
    const fs::path saved = backup_ / file.relative;
    fs::create_directories(saved.parent_path(), error);
    if (link(target.c_str(), saved.c_str()) != 0 &&
        !fs::copy_file(target, saved, fs::copy_options::overwrite_existing, error)) {
      log_("cannot back up " + target.string() + ": " + error.message());
      return false;
    }
    file.existed = true;
    file.mode = info.st_mode & 07777;
  }
  return true;
}

// A staged file takes the mode of the file it replaces: a download creates plain files, and
// the agent's program must stay executable.
bool Upgrade::MoveIn(std::vector<Replacement>& files) {
  for (Replacement& file : files) {
    const fs::path staged = staging_ / file.relative;
    const fs::path target = folder_ / file.relative;
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (file.existed) chmod(staged.c_str(), file.mode);
    if (rename(staged.c_str(), target.c_str()) != 0) {
      log_("cannot move " + staged.string() + " to " + target.string() + ": " +
           std::strerror(errno));
      return false;
    }
    file.movedIn = true;
    log_("replaced " + file.relative + (file.existed ? "" : " (new file)"));
  }
  return true;
}

// New files go back to the staging folder, old ones back to their place.
void Upgrade::Restore(std::vector<Replacement>& files) {
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    if (!it->movedIn) continue;
    const fs::path staged = staging_ / it->relative;
    const fs::path target = folder_ / it->relative;
    std::error_code error;
    fs::create_directories(staged.parent_path(), error);
    if (rename(target.c_str(), staged.c_str()) != 0) {
      log_("cannot move " + target.string() +
           " back to the staging folder: " + std::strerror(errno));
    }
    if (it->existed && rename((backup_ / it->relative).c_str(), target.c_str()) != 0) {
      log_("cannot restore " + target.string() + ": " + std::strerror(errno));
      continue;
    }
    it->movedIn = false;
    log_("restored " + it->relative);
  }
}

void Upgrade::CleanStaging() {
  std::error_code error;
  std::vector<fs::path> folders;
  for (auto it = fs::recursive_directory_iterator(staging_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) folders.push_back(it->path());
  }
  // Deepest first; only folders that are empty now.
  std::sort(folders.rbegin(), folders.rend());
  for (const fs::path& folder : folders) fs::remove(folder, error);
}

bool Upgrade::StartAndWaitForAnswer(const AgentProcess& agent, const char* which) {
  if (!agent.cwd.empty() && chdir(agent.cwd.c_str()) != 0) {
    log_("cannot enter the agent's folder " + agent.cwd + "; starting from " + folder_.string());
    if (chdir(folder_.c_str()) != 0) log_("cannot enter " + folder_.string() + " either");
  }
  // Its own session: the agent outlives this program and whatever session it was started in.
  const auto pid = platform::SpawnNative(agent.exe, agent.args, true);
  if (!pid) {
    log_(std::string("cannot start the ") + which + " agent " + agent.exe + ": " +
         std::strerror(errno));
    return false;
  }
  log_(std::string("started the ") + which + " agent " + agent.exe + ", process " +
       std::to_string(*pid));
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.answerWaitMs);
  for (;;) {
    int exitCode = 0;
    if (platform::WaitForProcess(*pid, 0, &exitCode) == platform::WaitResult::kEnded) {
      log_(std::string("the ") + which + " agent ended with code " + std::to_string(exitCode));
      return false;
    }
    if (platform::SendWindowMessage(platform::WindowKey::kClass, kAgentWindowClass, kWmNull, 0, 0,
                                    1000)) {
      log_(std::string("the ") + which + " agent answers");
      return true;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(kPollInterval * 5);
  }
  log_(std::string("the ") + which + " agent did not answer within " +
       std::to_string(options_.answerWaitMs) + " ms; stopping it");
  kill(*pid, SIGTERM);
  if (platform::WaitForProcess(*pid, 5000) != platform::WaitResult::kEnded) {
    kill(*pid, SIGKILL);
    platform::WaitForProcess(*pid, -1);
  }
  return false;
}

Outcome Upgrade::Run() {
  log_("upgrade of process " + std::to_string(options_.agentPid) + " in " +
       options_.agentFolderWire + " (" + folder_.string() + ")");
  const auto agent = ReadAgentProcess(options_.agentPid);
  if (!agent) {
    log_("process " + std::to_string(options_.agentPid) + " is not running; nothing changed");
    return kNotAnAgent;
  }
  if (!SameFolder(fs::path(agent->exe).parent_path(), folder_)) {
    log_("process " + std::to_string(options_.agentPid) + " runs " + agent->exe +
         ", not an agent of this folder; nothing changed");
    return kNotAnAgent;
  }
  if (!WaitForAgentToEnd(*agent)) {
    log_("process " + std::to_string(options_.agentPid) + " did not end within " +
         std::to_string(options_.exitWaitMs) + " ms; nothing changed");
    return kAgentDidNotEnd;
  }
  log_("the agent has ended");

  std::vector<Replacement> files;
  for (std::string& relative : StagedFiles(staging_.string())) {
    files.push_back({std::move(relative)});
  }
  if (files.empty()) log_("nothing is staged; restarting the agent");

  if (!BackUp(files)) {
    log_("backup failed; nothing changed");
    return StartAndWaitForAnswer(*agent, "old") ? kRolledBack : kFailed;
  }
  if (MoveIn(files)) {
    if (StartAndWaitForAnswer(*agent, "new")) {
      CleanStaging();
      log_("upgrade done: " + std::to_string(files.size()) + " file(s) replaced");
      return kUpgraded;
    }
  }
  log_("rolling back");
  Restore(files);
  if (StartAndWaitForAnswer(*agent, "old")) {
    log_("rolled back; the old agent runs");
    return kRolledBack;
  }
  log_("rolled back, but the old agent does not answer either");
  return kFailed;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error) {
  bool havePid = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (i + 1 >= args.size()) {
      error = "missing value after " + name;
      return false;
    }
    const std::string& value = args[++i];
    int number = 0;
    if (EqualsIgnoreCase(name, "/PID")) {
      if (!ParseMilliseconds(value, number) || number <= 0) {
        error = "bad process id " + value;
        return false;
      }
      options.agentPid = number;
      havePid = true;
    } else if (EqualsIgnoreCase(name, "/Perimo")) {
      options.agentFolderWire = value;
    } else if (EqualsIgnoreCase(name, "/ExitWait") && ParseMilliseconds(value, number)) {
      options.exitWaitMs = number;
    } else if (EqualsIgnoreCase(name, "/AnswerWait") && ParseMilliseconds(value, number)) {
      options.answerWaitMs = number;
    } else {
      error = "unknown argument " + name + " " + value;
      return false;
    }
  }
  if (!havePid) error = "no /PID given";
  return havePid;
}

std::vector<std::string> StagedFiles(const std::string& stagingFolder) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(stagingFolder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_symlink(error) || it->is_regular_file(error)) {
      files.push_back(fs::relative(it->path(), stagingFolder, error).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

Outcome RunUpgrade(const Options& options, const Logger& log) {
  return Upgrade(options, log).Run();
}

}  // namespace perimo::upgrade
