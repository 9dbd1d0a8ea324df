#include "e2e/fake_runtime.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path BinaryDir() {
  const char* dir = std::getenv("PERIMO_BIN_DIR");
  return dir && *dir ? fs::path(dir) : fs::path("build/bin");
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::string BuiltFile(const std::string& name) {
  std::ifstream in(BinaryDir() / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool UseWideStrings(workstation::Workstation& ws) {
  return ws.Request(workstation::Frame(0x20), 2000) == workstation::Bytes{0x06};
}

FakeRuntime::FakeRuntime(AgentHarness& agent, std::vector<std::string> args)
    : log_(agent.runtimeFolder() / "fake-runtime.log"),
      windows_(agent.windowsFolder()),
      args_(std::move(args)) {}

FakeRuntime::~FakeRuntime() {
  Stop();
}

bool FakeRuntime::Start(int timeoutMs) {
  std::error_code ignored;
  fs::remove(log_, ignored);
  const std::string program = (BinaryDir() / "perimo-fake-runtime").string();
  std::vector<std::string> args = {program, "--log", log_.string()};
  args.insert(args.end(), args_.begin(), args_.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("PERIMO_WINDOWS_DIR=", 0) != 0) env.push_back(*e);
  }
  env.push_back("PERIMO_WINDOWS_DIR=" + windows_.string());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
    pid_ = -1;
    return false;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    const auto lines = ReadLines(log_);
    if (!lines.empty() && lines.front() == "ready") return true;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

bool FakeRuntime::WaitForExit(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void FakeRuntime::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!WaitForExit(5000)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

std::vector<std::string> FakeRuntime::Messages() const {
  std::vector<std::string> messages;
  for (std::string& line : ReadLines(log_)) {
    if (line != "ready" && line != "ended") messages.push_back(std::move(line));
  }
  return messages;
}

bool FakeRuntime::WaitForMessage(const std::string& text, int timeoutMs) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    for (const std::string& line : Messages()) {
      if (line == text) return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace perimo::e2e
