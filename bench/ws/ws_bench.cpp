// perimo-ws on loopback against scp (to an sshd started here) and rsync (to an rsync daemon
// started here): a large put and get, in clear and encrypted, and the sync of a 1,000-file
// project unchanged and with 10 files changed. Figures are rates and ratios measured in the
// same run; a tool that cannot be started is skipped with a note.
// PERIMO_BENCH_WS_MIB sets the size of the large file (default 256), PERIMO_BENCH_WS_ROUNDS the
// rounds of each sync figure (default 7).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/agent_process.h"
#include "security/users_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using perimo::bench::AgentProcess;

std::string g_work;

// Runs a program with output to a log; seconds taken, or -1 when it failed.
double Timed(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = g_work + "/log.txt";
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int status = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A background server; stopped by its process id at the end.
struct Server {
  pid_t pid = -1;
  bool Start(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = g_work + "/server.txt";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const bool ok = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return ok;
  }
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

bool WaitListening(uint16_t port) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
      if (line.find(std::string(wanted) + " 00000000:0000 0A") != std::string::npos) return true;
    }
    usleep(20000);
  }
  return false;
}

void WriteFile(const std::string& path, size_t size, unsigned seed) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t done = 0; done < size; done += block.size()) {
    for (char& c : block) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
    out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
  }
}

// The median of the figures; -1 when there are none or one failed.
double Median(std::vector<double> figures) {
  if (figures.empty() || *std::min_element(figures.begin(), figures.end()) < 0) return -1;
  std::sort(figures.begin(), figures.end());
  return figures[figures.size() / 2];
}

double Rate(double bytes, double seconds) {
  return seconds > 0 ? bytes / seconds / (1 << 20) : 0;
}

void Line(const char* what, double seconds, double bytes) {
  if (seconds < 0) {
    std::printf("  %-34s failed or skipped\n", what);
  } else if (bytes <= 0) {
    std::printf("  %-34s %8.3f s\n", what, seconds);
  } else {
    std::printf("  %-34s %8.3f s  %8.1f MiB/s\n", what, seconds, Rate(bytes, seconds));
  }
}

void Ratio(const char* what, double a, double b, double goal, bool higherIsBetter) {
  if (a <= 0 || b <= 0) {
    std::printf("  %-50s n/a\n", what);
    return;
  }
  const double r = a / b;
  const bool met = higherIsBetter ? r >= goal : r <= goal;
  std::printf("  %-50s %6.2f  (goal %s %.2f: %s)\n", what, r, higherIsBetter ? ">=" : "<=", goal,
              met ? "met" : "not met");
}

}  // namespace

int main() {
  const char* mib = std::getenv("PERIMO_BENCH_WS_MIB");
  const size_t size = static_cast<size_t>(mib ? std::atoi(mib) : 256) << 20;
  std::string pattern = (fs::temp_directory_path() / "perimo-bench-ws-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  g_work = pattern;
  const std::string bin = fs::canonical("/proc/self/exe").parent_path().string();
  const std::string ws = bin + "/perimo-ws";
  const std::string data = g_work + "/data.bin";
  WriteFile(data, size, 1);
  const double bytes = static_cast<double>(size);
  std::printf("perimo-ws on loopback, %zu MiB file\n", size >> 20);

  AgentProcess plain(g_work + "/plain", bin + "/perimo");
  AgentProcess secure(g_work + "/secure", bin + "/perimo");
  const auto users = perimo::SerializeUsersFile({{u"bench", u"bench", {1, 1, 1, 1, 1}}}, true);
  secure.usersFile.assign(users.begin(), users.end());
  if (!plain.Start() || !secure.Start()) {
    std::printf("the agent did not start\n");
    return 1;
  }
  auto host = [](const AgentProcess& a) { return "127.0.0.1:" + std::to_string(a.port()); };
  const std::vector<std::string> login = {"PERIMO_PASSWORD=bench"};
  const double put = Timed({ws, "--host", host(plain), "put", data, "C:\\data.bin"});
  const double get =
      Timed({ws, "--host", host(plain), "get", "C:\\data.bin", g_work + "/back.bin"});
  const double putSecure =
      Timed({ws, "--host", host(secure), "--user", "bench", "put", data, "C:\\data.bin"}, login);
  const double getSecure = Timed(
      {ws, "--host", host(secure), "--user", "bench", "get", "C:\\data.bin", g_work + "/back2.bin"},
      login);
  fs::remove(g_work + "/back.bin");
  fs::remove(g_work + "/back2.bin");

  // sshd with keys made here; scp as the current user.
  double scpPut = -1, scpGet = -1;
  Server sshd;
  const uint16_t sshPort = perimo::bench::FreeLoopbackPort();
  const std::string key = g_work + "/id", hostKey = g_work + "/host_key";
  if (fs::exists("/usr/sbin/sshd") &&
      Timed({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key}) >= 0 &&
      Timed({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", hostKey}) >= 0) {
    fs::copy_file(key + ".pub", g_work + "/authorized_keys");
    std::ofstream(g_work + "/sshd_config")
        << "Port " << sshPort << "\nListenAddress 127.0.0.1\nHostKey " << hostKey
        << "\nAuthorizedKeysFile " << g_work << "/authorized_keys\nStrictModes no\n"
        << "UsePAM no\nPermitRootLogin yes\nPidFile none\n"
        << "Subsystem sftp /usr/lib/openssh/sftp-server\n";
    std::error_code ignored;
    fs::create_directories("/run/sshd", ignored);
    if (sshd.Start({"/usr/sbin/sshd", "-D", "-e", "-f", g_work + "/sshd_config"}) &&
        WaitListening(sshPort)) {
      const std::vector<std::string> scp = {"scp", "-q",
                                            "-P",  std::to_string(sshPort),
                                            "-i",  key,
                                            "-o",  "StrictHostKeyChecking=no",
                                            "-o",  "UserKnownHostsFile=/dev/null",
                                            "-o",  "BatchMode=yes"};
      auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> args = scp;
        args.insert(args.end(), tail.begin(), tail.end());
        return args;
      };
      scpPut = Timed(with({data, "127.0.0.1:" + g_work + "/scp.bin"}));
      scpGet = Timed(with({"127.0.0.1:" + g_work + "/scp.bin", g_work + "/scp-back.bin"}));
      fs::remove(g_work + "/scp.bin", ignored);
      fs::remove(g_work + "/scp-back.bin", ignored);
    }
  }
  if (scpPut < 0) std::printf("  (scp skipped: sshd could not be started or reached)\n");

  // rsync daemon with one module.
  double rsyncPut = -1, rsyncGet = -1, rsyncSame = -1, rsyncTen = -1;
  Server rsyncd;
  const uint16_t rsyncPort = perimo::bench::FreeLoopbackPort();
  fs::create_directories(g_work + "/rsyncd");
  // Run as root, the daemon would otherwise take the files as nobody.
  std::ofstream(g_work + "/rsyncd.conf")
      << "use chroot = no\nuid = " << getuid() << "\ngid = " << getgid()
      << "\n[bench]\npath = " << g_work << "/rsyncd\nread only = no\n";
  const std::string module = "rsync://127.0.0.1:" + std::to_string(rsyncPort) + "/bench/";
  const bool haveRsync = rsyncd.Start({"rsync", "--daemon", "--no-detach", "--address=127.0.0.1",
                                       "--port=" + std::to_string(rsyncPort),
                                       "--config=" + g_work + "/rsyncd.conf"}) &&
                         WaitListening(rsyncPort);
  if (haveRsync) {
    rsyncPut = Timed({"rsync", data, module});
    rsyncGet = Timed({"rsync", module + "data.bin", g_work + "/rsync-back.bin"});
    std::error_code ignored;
    fs::remove(g_work + "/rsync-back.bin", ignored);
    fs::remove(g_work + "/rsyncd/data.bin", ignored);
  } else {
    std::printf("  (rsync skipped: the daemon could not be started)\n");
  }

  // A 1,000-file project of 8 KiB files in 20 folders.
  const std::string proj = g_work + "/proj";
  for (int i = 0; i < 1000; ++i) {
    WriteFile(proj + "/F" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".scr", 8192,
              static_cast<unsigned>(i));
  }
  double syncSame = -1, syncTen = -1;
  const bool digests =
      Timed({ws, "--host", host(plain), "--timeout", "3", "digest", "C:\\data.bin"}) >= 0;
  if (!digests) std::printf("  (perimo-ws sync skipped: this agent does not answer 0x35)\n");
  const std::vector<std::string> wsSync = {ws, "--host", host(plain), "sync", proj, "C:\\Proj"};
  const std::vector<std::string> rsyncSync = {"rsync", "-r", "-t", proj + "/", module + "proj/"};
  if (digests) Timed(wsSync);
  if (haveRsync) Timed(rsyncSync);
  // Each figure is the median of several rounds with the tools taking turns, so that a busy
  // moment of a shared machine does not fall on one tool only.
  const char* roundsText = std::getenv("PERIMO_BENCH_WS_ROUNDS");
  const int rounds = std::max(1, roundsText ? std::atoi(roundsText) : 7);
  std::vector<double> wsSame, rsSame, wsTen, rsTen;
  auto timedIf = [](bool run, const std::vector<std::string>& args, std::vector<double>& into) {
    if (run) into.push_back(Timed(args));
  };
  for (int r = 0; r < rounds; ++r) {
    timedIf(digests, wsSync, wsSame);
    timedIf(haveRsync, rsyncSync, rsSame);
  }
  for (int r = 0; r < rounds; ++r) {
    // Ten other files each round, with new content and a time of their own (rsync compares
    // sizes and times; these keep their size).
    for (int i = r; i < 1000; i += 100) {
      const std::string path =
          proj + "/F" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".scr";
      WriteFile(path, 8192, static_cast<unsigned>(i + 7 + 1000 * (r + 1)));
      const timespec times[2] = {{1000000000 + r, 0}, {1000000000 + r, 0}};
      utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    timedIf(digests, wsSync, wsTen);
    timedIf(haveRsync, rsyncSync, rsTen);
  }
  syncSame = Median(wsSame);
  syncTen = Median(wsTen);
  rsyncSame = Median(rsSame);
  rsyncTen = Median(rsTen);

  std::printf("large file\n");
  Line("perimo-ws put", put, bytes);
  Line("perimo-ws get", get, bytes);
  Line("perimo-ws put, encrypted", putSecure, bytes);
  Line("perimo-ws get, encrypted", getSecure, bytes);
  Line("scp put", scpPut, bytes);
  Line("scp get", scpGet, bytes);
  Line("rsync daemon put", rsyncPut, bytes);
  Line("rsync daemon get", rsyncGet, bytes);
  std::printf("1,000 files of 8 KiB in 20 folders, median of %d rounds\n", rounds);
  Line("perimo-ws sync, unchanged", syncSame, 0);
  Line("perimo-ws sync, 10 changed", syncTen, 0);
  Line("rsync -r -t, unchanged", rsyncSame, 0);
  Line("rsync -r -t, 10 changed", rsyncTen, 0);
  std::printf("ratios\n");
  Ratio("encrypted put rate / scp put rate", scpPut, putSecure, 1.0, true);
  Ratio("get rate / put rate", put, get, 0.7, true);
  Ratio("encrypted get rate / encrypted put rate", putSecure, getSecure, 0.7, true);
  Ratio("put rate / rsync daemon put rate", rsyncPut, put, 1.0, true);
  Ratio("unchanged sync time / rsync's", syncSame, rsyncSame, 1.0, false);
  Ratio("10-changed sync time / rsync's", syncTen, rsyncTen, 1.0, false);
  plain.Stop();
  secure.Stop();
  std::error_code ignored;
  if (!std::getenv("PERIMO_BENCH_KEEP")) fs::remove_all(g_work, ignored);
  return 0;
}
