#include "agent_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace perimo::bench {
namespace fs = std::filesystem;

uint16_t FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

AgentProcess::AgentProcess(std::string work, std::string executable)
    : work_(std::move(work)), executable_(std::move(executable)) {
  driveC_ = work_ + "/drive";
}

AgentProcess::~AgentProcess() {
  Stop();
}

bool AgentProcess::Start() {
  const std::string agentDir = work_ + "/agent";
  for (const char* sub : {"/agent", "/drive", "/run", "/data", "/home", "/windows"}) {
    fs::create_directories(work_ + sub);
  }
  const std::string copy = agentDir + "/perimo";
  std::error_code error;
  fs::copy_file(executable_, copy, fs::copy_options::overwrite_existing, error);
  if (error) return false;
  port_ = FreeLoopbackPort();
  {
    std::ofstream ini(agentDir + "/perimo.INI");
    ini << "[OEM]\nUseUserFolder=0\n[Remote]\nPort=" << port_ << "\n[Drives]\nC=" << driveC_ << "\n"
        << extraSettings;
  }
  if (!usersFile.empty()) std::ofstream(agentDir + "/perimo.BIN", std::ios::binary) << usersFile;

  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    ::setenv("HOME", (work_ + "/home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (work_ + "/run").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (work_ + "/data").c_str(), 1);
    ::setenv("PERIMO_WINDOWS_DIR", (work_ + "/windows").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    int log = ::open((work_ + "/agent.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    ::execl(copy.c_str(), "perimo", "--headless", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (!waitForPort) return true;
  // Ready when the port accepts a connection.
  for (int attempt = 0; attempt < 300; ++attempt) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (up) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void AgentProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (::waitpid(pid_, &status, WNOHANG) == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

uint64_t AgentProcess::PeakResidentKiB() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

double AgentProcess::CpuSeconds() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1;
  // Fields after the command name, which may hold spaces: state is field 3, utime 14, stime 15.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (index == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace perimo::bench
