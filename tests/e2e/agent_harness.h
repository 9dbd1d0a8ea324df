#pragma once
// Runs a real agent for end-to-end tests: copies build/bin/perimo into a fresh folder (which
// is its drive C), writes its settings file there, starts it headless with its standard
// output captured line by line, waits until it listens, and stops it by its process id.
// Every agent gets its own runtime folder, so agents of parallel tests never meet.
#include <sys/resource.h>
#include <sys/types.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "workstation/workstation.h"

namespace perimo::e2e {

struct AgentOptions {
  // Settings-file keys on top of the defaults: ini["Setup"]["LockDownload"] = "1". A key
  // given here replaces a default one.
  std::map<std::string, std::map<std::string, std::string>> ini;
  // Files to place before the start, relative to the agent's folder (binary content is fine).
  std::vector<std::pair<std::string, std::string>> files;
  // Of those files, the ones to make executable (programs the agent starts).
  std::vector<std::string> executables;
  // Extra environment for the agent (LANG, LC_ALL, ...).
  std::vector<std::pair<std::string, std::string>> env;
  // Resource limits for the agent (RLIMIT_AS, RLIMIT_NOFILE, ...).
  std::vector<std::pair<int, rlimit>> rlimits;
  // The executable's file name in its folder.
  std::string exeName = "perimo";
  // Wait until the agent listens on its port (off for agents that must not start).
  bool waitForListener = true;
  // Write the settings file into the per-user settings folder (with UseUserFolder left at
  // its default) instead of beside the executable.
  bool settingsInUserFolder = false;
};

class AgentHarness {
 public:
  explicit AgentHarness(AgentOptions options = {});
  ~AgentHarness();
  AgentHarness(const AgentHarness&) = delete;
  AgentHarness& operator=(const AgentHarness&) = delete;

  // Prepares the folder and starts the agent; false (with a test failure message in
  // error()) when it did not come up.
  bool Start(int timeoutMs = 15000);
  // SIGTERM and wait; the exit code, or -1 when it had to be killed or was not running.
  int Stop(int timeoutMs = 10000);
  // SIGKILL, as a power cut or a crash would end it, and wait.
  void Kill();
  // Starts the agent again in the same folder on the same port, its files as they are.
  bool Restart(int timeoutMs = 15000);
  // Waits for the agent to end by itself; its exit code, or nullopt on time-out.
  std::optional<int> WaitForExit(int timeoutMs = 10000);
  bool Running();

  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }
  const std::filesystem::path& folder() const { return folder_; }  // drive C
  std::filesystem::path Path(const std::string& relative) const { return folder_ / relative; }
  std::filesystem::path windowsFolder() const { return folder_.parent_path() / "run" / "windows"; }
  std::filesystem::path runtimeFolder() const { return folder_.parent_path() / "run"; }
  // The per-user settings folder ($XDG_DATA_HOME); outside drive C.
  std::filesystem::path userFolder() const { return folder_.parent_path() / "data"; }
  const std::string& error() const { return error_; }

  // Status lines (and headless message boxes) written so far.
  std::vector<std::string> Lines();
  size_t LineCount();
  // Waits for a line containing text, at or after line index from; its index.
  std::optional<size_t> WaitForLine(const std::string& text, int timeoutMs = 5000, size_t from = 0);
  // Whether a line containing text appeared at or after from (without waiting).
  bool HasLine(const std::string& text, size_t from = 0);

  // A workstation connected to the agent.
  workstation::Workstation Connect();

  // Settings file text as written (for tests that inspect it).
  std::string SettingsText() const;

 private:
  void WriteFiles();
  bool Spawn();
  bool WaitListening(int timeoutMs);
  void ReadOutput(std::stop_token stop, int fd);

  AgentOptions options_;
  std::filesystem::path root_;
  std::filesystem::path folder_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  int exitCode_ = -1;
  std::string error_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::jthread reader_;
};

// A TCP port nobody listens on right now.
uint16_t FreePort();

}  // namespace perimo::e2e
