// Soak: one agent, --frames mixed frames (keep-alives, settings writes and reads, listings,
// small downloads and uploads, invalid frames) over loopback in framed mode, with a new
// connection every --reconnect-every frames. Prints frames per second and the agent's
// resident memory and open descriptors at the start, every tenth of the run and at the end,
// and whether memory stayed within 1 MiB of its value after the first tenth.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "files/agent_process.h"
#include "workstation/workstation.h"

namespace {

namespace fs = std::filesystem;
using perimo::workstation::Bytes;
using Clock = std::chrono::steady_clock;

uint64_t ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

int OpenDescriptors(pid_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

Bytes Text(uint8_t code, const std::string& text) {
  Bytes frame{code};
  frame.insert(frame.end(), text.begin(), text.end());
  return frame;
}

class Driver {
 public:
  explicit Driver(uint16_t port) : port_(port) {}

  bool Reconnect() {
    ws_.Close();
    if (!ws_.Connect("127.0.0.1", port_)) return false;
    ws_.SetFramed(false);
    if (!ws_.Request(Bytes{0x13})) return false;
    ws_.SetFramed(true);
    ++frames_;
    return true;
  }

  // One request that must be answered.
  bool Ask(const Bytes& frame) {
    ++frames_;
    const auto reply = ws_.Request(frame, 10000);
    if (!reply || reply->empty()) {
      std::fprintf(stderr, "no reply to a 0x%02X frame\n", frame.empty() ? 0 : frame[0]);
      return false;
    }
    last_ = *reply;
    return true;
  }
  bool Send(const Bytes& frame) {
    ++frames_;
    return ws_.SendFrame(frame);
  }

  // A cycle of the mix; false when the agent stopped answering. Writes are durable (each
  // one flushed to disk), so one cycle in eight writes a settings value and downloads a file;
  // the others read.
  bool Cycle(std::mt19937& rng, uint64_t n) {
    const std::string key = "\tSoak\tKey" + std::to_string(n % 50);
    const std::string name = "C:\\soak\\d" + std::to_string(n / 8 % 20) + ".bin";
    if (!Ask(Bytes{0x80})) return false;
    if (n % 8 == 0) {
      if (!Ask(Text(0x0C, "C:\\soak\\s.ini" + key + "\t" + std::to_string(n)))) return false;
      std::string content(64 + rng() % 512, 0);
      for (char& c : content) c = static_cast<char>(rng());
      Bytes open{0x2D};
      perimo::workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
      open.insert(open.end(), name.begin(), name.end());
      if (!Ask(open)) return false;
      Bytes block{0x2E};
      perimo::workstation::AppendU32(block, static_cast<uint32_t>(content.size()));
      block.insert(block.end(), content.begin(), content.end());
      if (!Send(block) || !Ask(Bytes{0x2C})) return false;
      Bytes close{0x03};
      close.resize(25, 0);
      perimo::workstation::AppendU32(close, 0x20);
      if (!Ask(close) || last_ != Bytes{0x06}) return false;
    }
    if (!Ask(Text(0x0D, "C:\\soak\\s.ini" + key + "\tnone"))) return false;
    if (listings_) {
      if (!Ask(Text(0x16, "C:\\soak\\*.*")) || !Ask(Bytes{0x17})) return false;
    } else if (!Ask(Bytes{0x81}) || !Ask(Bytes{0x82})) {
      return false;
    }
    if (!Ask(Text(0x04, name)) || !Ask(Bytes{0x05}) || !Ask(Bytes{0x05}) || !Ask(Bytes{0x06})) {
      return false;
    }
    // Invalid frames: unknown codes with junk after them, then a keep-alive to stay in step.
    Bytes junk(1 + rng() % 40);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    junk[0] = static_cast<uint8_t>(0x3F + rng() % 0x41);
    if (!Send(junk) || !Ask(Bytes{0x80})) return false;
    return true;
  }

  void ProbeListings() {
    ws_.SendFrame(Text(0x16, "C:\\soak\\*.*"));
    ws_.SendFrame(Bytes{0x80});
    const auto first = ws_.ReadReply(5000);
    listings_ = first && *first != Bytes{0x06};
    if (listings_) ws_.ReadReply(5000);
  }

  uint64_t frames() const { return frames_; }
  bool listings() const { return listings_; }

 private:
  uint16_t port_;
  perimo::workstation::Workstation ws_;
  uint64_t frames_ = 0;
  bool listings_ = false;
  Bytes last_;
};

}  // namespace

int main(int argc, char** argv) {
  uint64_t total = 1000000;
  uint64_t reconnectEvery = 100;
  std::string executable;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--frames") == 0) total = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--reconnect-every") == 0) {
      reconnectEvery = std::max<uint64_t>(1, std::strtoull(argv[i + 1], nullptr, 10));
    }
    if (std::strcmp(argv[i], "--agent") == 0) executable = argv[i + 1];
  }
  if (executable.empty()) {
    const char* binDir = std::getenv("PERIMO_BIN_DIR");
    executable = binDir ? std::string(binDir) + "/perimo"
                        : (fs::path(argv[0]).parent_path() / "perimo").string();
  }
  const fs::path work = fs::temp_directory_path() / ("perimo-soak-" + std::to_string(getpid()));
  fs::create_directories(work);
  int status = 0;
  {
    perimo::bench::AgentProcess agent(work.string(), executable);
    if (!agent.Start()) {
      std::fprintf(stderr, "the agent did not start\n");
      return 1;
    }
    fs::create_directories(fs::path(agent.driveC()) / "soak");
    Driver driver(agent.port());
    if (!driver.Reconnect()) return 1;
    driver.ProbeListings();
    std::printf("soak: %llu frames, a new connection every %llu, listings %s\n",
                static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(reconnectEvery),
                driver.listings() ? "on" : "off (the agent has none)");
    std::printf("%10s %10s %9s %6s\n", "frames", "frames/s", "RSS KiB", "fds");
    const uint64_t step = std::max<uint64_t>(1, total / 10);
    uint64_t nextReport = 0, nextReconnect = reconnectEvery, reconnects = 0;
    uint64_t baselineKiB = 0;
    int startFds = OpenDescriptors(agent.pid()), maxFds = startFds;
    uint64_t maxKiB = 0;
    std::mt19937 rng(7);
    auto start = Clock::now();
    auto lastTime = start;
    uint64_t lastFrames = 0;
    for (uint64_t cycle = 0; driver.frames() < total; ++cycle) {
      if (driver.frames() >= nextReport) {
        const auto now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - lastTime).count();
        const uint64_t kib = ResidentKiB(agent.pid());
        const int fds = OpenDescriptors(agent.pid());
        std::printf("%10llu %10.0f %9llu %6d\n", static_cast<unsigned long long>(driver.frames()),
                    seconds > 0 ? (driver.frames() - lastFrames) / seconds : 0.0,
                    static_cast<unsigned long long>(kib), fds);
        std::fflush(stdout);
        if (nextReport == step) baselineKiB = kib;
        if (nextReport > step) maxKiB = std::max(maxKiB, kib);
        maxFds = std::max(maxFds, fds);
        lastTime = now;
        lastFrames = driver.frames();
        nextReport += step;
      }
      if (driver.frames() >= nextReconnect) {
        if (!driver.Reconnect()) {
          status = 1;
          break;
        }
        ++reconnects;
        nextReconnect = driver.frames() + reconnectEvery;
      }
      if (!driver.Cycle(rng, cycle)) {
        status = 1;
        break;
      }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const uint64_t endKiB = ResidentKiB(agent.pid());
    const int endFds = OpenDescriptors(agent.pid());
    maxKiB = std::max(maxKiB, endKiB);
    std::printf("%10llu %10.0f %9llu %6d  (end)\n",
                static_cast<unsigned long long>(driver.frames()), driver.frames() / seconds,
                static_cast<unsigned long long>(endKiB), endFds);
    std::printf(
        "reconnects %llu; frames/s %.0f; memory after the first tenth %llu KiB, highest "
        "later %llu KiB (%s 1 MiB); descriptors %d at the start, %d at most, %d at the "
        "end; agent %s\n",
        static_cast<unsigned long long>(reconnects), driver.frames() / seconds,
        static_cast<unsigned long long>(baselineKiB), static_cast<unsigned long long>(maxKiB),
        maxKiB <= baselineKiB + 1024 ? "within" : "MORE than", startFds, maxFds, endFds,
        kill(agent.pid(), 0) == 0 ? "running" : "GONE");
    if (status != 0) std::printf("the agent stopped answering\n");
    agent.Stop();
  }
  fs::remove_all(work);
  return status;
}
