#include "e2e/agent_harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path BinaryDir() {
  const char* dir = std::getenv("PERIMO_BIN_DIR");
  return dir && *dir ? fs::path(dir) : fs::path("build/bin");
}

// Whether /proc lists a listening IPv4 socket on the port.
bool PortListening(uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // header
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() >= 5 && local.substr(local.size() - 5) == wanted) return true;
  }
  return false;
}

}  // namespace

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

AgentHarness::AgentHarness(AgentOptions options) : options_(std::move(options)) {
  std::string pattern = (fs::temp_directory_path() / "perimo-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  folder_ = root_ / "agent";
  fs::create_directories(folder_);
  fs::create_directories(root_ / "run" / "windows");
  fs::create_directories(root_ / "data");
}

AgentHarness::~AgentHarness() {
  Stop();
  if (reader_.joinable()) {
    reader_.request_stop();
    reader_.join();
  }
  if (!std::getenv("PERIMO_KEEP_E2E")) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
}

std::string AgentHarness::SettingsText() const {
  std::map<std::string, std::map<std::string, std::string>> ini = {
      {"OEM", {{"UseUserFolder", options_.settingsInUserFolder ? "1" : "0"}}},
      {"Remote", {{"Port", std::to_string(port_)}}},
      {"Option", {{"DoNotAskSecurity", "1"}}},
      {"Drives", {{"C", folder_.string()}}},
  };
  for (const auto& [section, keys] : options_.ini) {
    for (const auto& [key, value] : keys) ini[section][key] = value;
  }
  std::string text;
  for (const auto& [section, keys] : ini) {
    text += "[" + section + "]\n";
    for (const auto& [key, value] : keys) text += key + "=" + value + "\n";
  }
  return text;
}

void AgentHarness::WriteFiles() {
  fs::copy_file(BinaryDir() / "perimo", folder_ / options_.exeName,
                fs::copy_options::overwrite_existing);
  for (const auto& [relative, content] : options_.files) {
    const fs::path path = folder_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  for (const std::string& relative : options_.executables) {
    std::error_code ignored;
    fs::permissions(folder_ / relative, fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  const std::string base =
      options_.exeName.size() > 4 && options_.exeName[options_.exeName.size() - 4] == '.'
          ? options_.exeName.substr(0, options_.exeName.size() - 4)
          : options_.exeName;
  if (options_.settingsInUserFolder) {
    std::ofstream(userFolder() / (base + ".INI")) << SettingsText();
  } else {
    std::ofstream(folder_ / (base + ".INI")) << SettingsText();
  }
}

bool AgentHarness::Spawn() {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;

  const std::string exe = (folder_ / options_.exeName).string();
  // The agent's own runtime, windows and data folders, unless the test names others.
  std::map<std::string, std::string> overrides = {
      {"XDG_RUNTIME_DIR", runtimeFolder().string()},
      {"PERIMO_WINDOWS_DIR", windowsFolder().string()},
      {"XDG_DATA_HOME", (root_ / "data").string()},
  };
  for (const auto& [name, value] : options_.env) overrides[name] = value;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || overrides.count(name)) continue;
    env.push_back(entry);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string headless = "--headless";
  char* argv[] = {const_cast<char*>(exe.c_str()), headless.data(), nullptr};
  const std::string workDir = folder_.string();

  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    // A file-size limit stands for a full disk; the agent itself ignores SIGXFSZ so that
    // writes fail with EFBIG instead of the signal ending it.
    for (const auto& [resource, limit] : options_.rlimits) setrlimit(resource, &limit);
    dup2(out[1], STDOUT_FILENO);
    if (chdir(workDir.c_str()) != 0) _exit(126);
    execve(exe.c_str(), argv, envp.data());
    _exit(127);
  }
  close(out[1]);
  pid_ = pid;
  exitCode_ = -1;
  if (reader_.joinable()) {
    reader_.request_stop();
    reader_.join();
  }
  reader_ = std::jthread([this, fd = out[0]](std::stop_token stop) { ReadOutput(stop, fd); });
  return true;
}

// Polls so that a stop request ends it even while a child of the agent keeps the pipe open.
void AgentHarness::ReadOutput(std::stop_token stop, int fd) {
  std::string partial;
  char buffer[4096];
  while (!stop.stop_requested()) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 50) == 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    partial.append(buffer, static_cast<size_t>(n));
    size_t end;
    std::lock_guard lock(mutex_);
    while ((end = partial.find('\n')) != std::string::npos) {
      lines_.push_back(partial.substr(0, end));
      partial.erase(0, end + 1);
    }
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  if (!partial.empty()) lines_.push_back(partial);
  changed_.notify_all();
  close(fd);
}

bool AgentHarness::WaitListening(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (!Running()) return false;
    if (PortListening(port_)) return true;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(5));
  }
  return false;
}

bool AgentHarness::Start(int timeoutMs) {
  // A port found free may be taken before the agent binds it: then try another one.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreePort();
    WriteFiles();
    if (!Spawn()) {
      error_ = "cannot start the agent";
      return false;
    }
    if (!options_.waitForListener || WaitListening(timeoutMs)) return true;
    const bool portTaken = HasLine("Couldn't create socket");
    Stop();
    if (!portTaken) break;
  }
  error_ = "the agent did not come up; its output:";
  for (const std::string& line : Lines()) error_ += "\n  " + line;
  return false;
}

bool AgentHarness::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  if (done == pid_) exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

std::optional<int> AgentHarness::WaitForExit(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (Clock::now() >= deadline) return std::nullopt;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(5));
  }
  return exitCode_;
}

int AgentHarness::Stop(int timeoutMs) {
  if (!Running()) return pid_ < 0 && exitCode_ >= 0 ? exitCode_ : -1;
  kill(pid_, SIGTERM);
  if (auto code = WaitForExit(timeoutMs)) return *code;
  kill(pid_, SIGKILL);
  WaitForExit(timeoutMs);
  return -1;
}

void AgentHarness::Kill() {
  if (!Running()) return;
  kill(pid_, SIGKILL);
  WaitForExit();
}

bool AgentHarness::Restart(int timeoutMs) {
  Kill();
  if (!Spawn()) return false;
  return WaitListening(timeoutMs);
}

std::vector<std::string> AgentHarness::Lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}

size_t AgentHarness::LineCount() {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

bool AgentHarness::HasLine(const std::string& text, size_t from) {
  std::lock_guard lock(mutex_);
  for (size_t i = from; i < lines_.size(); ++i) {
    if (lines_[i].find(text) != std::string::npos) return true;
  }
  return false;
}

std::optional<size_t> AgentHarness::WaitForLine(const std::string& text, int timeoutMs,
                                                size_t from) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  for (;;) {
    for (size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].find(text) != std::string::npos) return i;
    }
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (size_t i = from; i < lines_.size(); ++i) {
        if (lines_[i].find(text) != std::string::npos) return i;
      }
      return std::nullopt;
    }
  }
}

workstation::Workstation AgentHarness::Connect() {
  workstation::Workstation ws;
  ws.Connect("127.0.0.1", port_);
  return ws;
}

}  // namespace perimo::e2e
