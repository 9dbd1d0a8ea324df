// Keep-alive round trips to a real agent over loopback, raw and framed, against a plain TCP
// echo server in another process as the baseline. Prints p50/p99 latency and frames/s.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWarmup = 2000;
constexpr int kRounds = 20000;

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

int ConnectWithRetry(uint16_t port) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    close(fd);
    usleep(10000);  // the server is still starting
  }
  return -1;
}

bool ReadExactly(int fd, uint8_t* out, size_t count) {
  while (count > 0) {
    const ssize_t n = recv(fd, out, count, 0);
    if (n <= 0) return false;
    out += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// A plain echo server: what a minimal one-client TCP responder costs on this machine.
pid_t StartEchoServer(uint16_t port) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
  listen(listener, 5);
  for (;;) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    uint8_t buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
      send(fd, buffer, static_cast<size_t>(n), 0);
    close(fd);
  }
}

pid_t StartAgent(const fs::path& folder, uint16_t port) {
  fs::create_directories(folder / "run");
  fs::path bin = fs::read_symlink("/proc/self/exe").parent_path() / "perimo";
  fs::copy_file(bin, folder / "perimo", fs::copy_options::overwrite_existing);
  std::ofstream(folder / "Perimo.INI")
      << "[OEM]\nUseUserFolder=0\n[Remote]\nPort=" << port << "\n[Option]\nDoNotAskSecurity=1\n";
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const std::string run = "XDG_RUNTIME_DIR=" + (folder / "run").string();
  const std::string windows = "PERIMO_WINDOWS_DIR=" + (folder / "run").string();
  putenv(const_cast<char*>(run.c_str()));
  putenv(const_cast<char*>(windows.c_str()));
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  const std::string exe = (folder / "perimo").string();
  execl(exe.c_str(), exe.c_str(), "--headless", static_cast<char*>(nullptr));
  _exit(127);
}

struct Result {
  double p50Us = 0, p99Us = 0, framesPerSecond = 0;
  bool ok = false;
};

// Round trips of one request; appends each latency and adds the time spent.
bool Run(int fd, const std::vector<uint8_t>& request, size_t replySize, int rounds,
         std::vector<double>* samples, double* seconds) {
  std::vector<uint8_t> reply(replySize);
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size()) ||
        !ReadExactly(fd, reply.data(), replySize)) {
      return false;
    }
    if (samples)
      samples->push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  if (seconds) *seconds += std::chrono::duration<double>(Clock::now() - start).count();
  return true;
}

Result Summarize(std::vector<double> samples, double seconds) {
  std::sort(samples.begin(), samples.end());
  Result r;
  r.p50Us = samples[samples.size() / 2];
  r.p99Us = samples[samples.size() * 99 / 100];
  r.framesPerSecond = static_cast<double>(samples.size()) / seconds;
  r.ok = true;
  return r;
}

// The agent and the echo server take turns in blocks, so that load from elsewhere on the
// machine falls on both alike.
bool Compare(int agentFd, int echoFd, const std::vector<uint8_t>& request, size_t replySize,
             Result* agent, Result* echo) {
  constexpr int kBlocks = 20;
  if (!Run(agentFd, request, replySize, kWarmup, nullptr, nullptr) ||
      !Run(echoFd, request, replySize, kWarmup, nullptr, nullptr)) {
    return false;
  }
  std::vector<double> agentSamples, echoSamples;
  double agentSeconds = 0, echoSeconds = 0;
  for (int block = 0; block < kBlocks; ++block) {
    if (!Run(agentFd, request, replySize, kRounds / kBlocks, &agentSamples, &agentSeconds) ||
        !Run(echoFd, request, replySize, kRounds / kBlocks, &echoSamples, &echoSeconds)) {
      return false;
    }
  }
  *agent = Summarize(std::move(agentSamples), agentSeconds);
  *echo = Summarize(std::move(echoSamples), echoSeconds);
  return true;
}

void Print(const char* name, const Result& r) {
  std::printf("%-22s p50 %8.1f us   p99 %8.1f us   %9.0f frames/s\n", name, r.p50Us, r.p99Us,
              r.framesPerSecond);
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "perimo-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path folder = pattern;

  const uint16_t echoPort = FreePort();
  const pid_t echo = StartEchoServer(echoPort);
  const uint16_t agentPort = FreePort();
  const pid_t agent = StartAgent(folder, agentPort);

  int status = 1;
  const int echoFd = ConnectWithRetry(echoPort);
  const int agentFd = ConnectWithRetry(agentPort);
  if (echoFd >= 0 && agentFd >= 0) {
    Result raw, echoRaw, framed, echoFramed;
    bool ok = Compare(agentFd, echoFd, {0x80}, 1, &raw, &echoRaw);
    // 0x13 switches the link to framed mode after its own raw reply.
    uint8_t osReply[18];
    const uint8_t osVersion = 0x13;
    ok =
        ok && send(agentFd, &osVersion, 1, 0) == 1 && ReadExactly(agentFd, osReply, sizeof osReply);
    ok = ok && Compare(agentFd, echoFd, {0x02, 0x80, 0x10, 0x03}, 4, &framed, &echoFramed);
    if (ok) {
      std::printf("keep-alive round trips over loopback, %d rounds each\n", kRounds);
      Print("echo baseline (1 B)", echoRaw);
      Print("echo baseline (4 B)", echoFramed);
      Print("agent raw", raw);
      Print("agent framed", framed);
      std::printf("p99 ratio: raw %.2fx, framed %.2fx of the echo baseline (goal: within 2x)\n",
                  raw.p99Us / echoRaw.p99Us, framed.p99Us / echoFramed.p99Us);
      status = 0;
    } else {
      std::fprintf(stderr, "a round trip failed\n");
    }
  } else {
    std::fprintf(stderr, "cannot connect (echo %d, agent %d)\n", echoFd, agentFd);
  }
  if (echoFd >= 0) close(echoFd);
  if (agentFd >= 0) close(agentFd);
  kill(agent, SIGTERM);
  kill(echo, SIGKILL);
  waitpid(agent, nullptr, 0);
  waitpid(echo, nullptr, 0);
  fs::remove_all(folder);
  return status;
}
