// A project listing and the registry through a real agent over loopback.
//
// Listing: 0x19 (flag '0') over a tree of 10,000 files in 500 folders, then 0x1A until the
// end, framed; the baseline is find listing the same tree with the same skip rule and each
// file's time, in the same run. Registry: 10,000 writes (each one durable) then 10,000
// reads of distinct values; the baselines are as many keep-alive round trips and as many
// small file writes each followed by fdatasync.
//
//   perimo-bench-listing [--agent path/to/perimo] [--repeat N] [--values N]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "agent_process.h"
#include "workstation/workstation.h"

namespace perimo::bench {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Workstation;
using Clock = std::chrono::steady_clock;

constexpr int kTopFolders = 20;
constexpr int kSubFolders = 25;  // per top folder: 500 folders in all
constexpr int kFilesPerFolder = 20;
constexpr int kReplyTimeoutMs = 60000;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Proj\Main.APP, Proj\Bin\... (skipped), Proj\LineNN\AreaNN\ScreenNN.scr.
size_t MakeTree(const std::string& root) {
  size_t listed = 1;
  fs::create_directories(root + "/Bin");
  std::ofstream(root + "/Main.APP") << "app";
  std::ofstream(root + "/Bin/runtime.dll") << "dll";
  char name[64];
  for (int t = 0; t < kTopFolders; ++t) {
    for (int s = 0; s < kSubFolders; ++s) {
      std::snprintf(name, sizeof name, "/Line%02d/Area%02d", t, s);
      const std::string folder = root + name;
      fs::create_directories(folder);
      for (int f = 0; f < kFilesPerFolder; ++f) {
        std::snprintf(name, sizeof name, "/Screen%02d.scr", f);
        std::ofstream(folder + name) << f;
        ++listed;
      }
    }
  }
  return listed;
}

// find over the same tree: Bin and Drv pruned at every depth, files with their times.
std::optional<double> FindListing(const std::string& root, size_t& lines) {
  const std::string command = "find '" + root +
                              "' -mindepth 1 \\( -iname Bin -o -iname Drv \\) -prune -o -type f "
                              "-printf '%P %T@\\n'";
  const auto start = Clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  char buffer[65536];
  lines = 0;
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    lines += static_cast<size_t>(std::count(buffer, buffer + n, '\n'));
  }
  if (::pclose(pipe) != 0) return std::nullopt;
  return Seconds(start);
}

bool Connect(Workstation& ws, const AgentProcess& agent) {
  if (!ws.Connect("127.0.0.1", agent.port())) return false;
  // Framed from the reply to 0x13 on: a reply is known whole without waiting for quiet.
  if (!ws.SendFrame(workstation::Frame(0x13)) || !ws.ReadReply(kReplyTimeoutMs)) return false;
  ws.SetFramed(true);
  return true;
}

// Counts entries in a 0x1A page: name, 00, 8 time bytes, 00.
size_t TimedEntries(const Bytes& page) {
  size_t count = 0;
  size_t at = 1;
  while (at < page.size()) {
    while (at < page.size() && page[at] != 0) ++at;
    at += 10;
    ++count;
  }
  return count;
}

std::optional<double> AgentListing(Workstation& ws, size_t& names, size_t& pages) {
  const std::string open = "0C:\\Proj";
  const auto start = Clock::now();
  if (!ws.Request(workstation::TextFrame(0x19, open), kReplyTimeoutMs)) return std::nullopt;
  names = 0;
  pages = 0;
  for (;;) {
    const auto page = ws.Request(workstation::Frame(0x1A), kReplyTimeoutMs);
    if (!page || page->empty()) return std::nullopt;
    if (*page == Bytes{0x06, 0x00}) break;
    names += TimedEntries(*page);
    ++pages;
  }
  return Seconds(start);
}

Bytes RegistryFrame(uint8_t code, int index, bool withData) {
  char text[128];
  if (withData) {
    std::snprintf(text, sizeof text, "HKEY_CURRENT_USER\tSoftware\\Bench\tK%03d\tV%d\tvalue %d",
                  index % 100, index, index);
  } else {
    std::snprintf(text, sizeof text, "HKEY_CURRENT_USER\tSoftware\\Bench\tK%03d\tV%d", index % 100,
                  index);
  }
  const size_t length = std::strlen(text);
  Bytes frame(1 + length);
  frame[0] = code;
  std::memcpy(frame.data() + 1, text, length);
  return frame;
}

// Small writes each made durable, as many as the registry writes.
std::optional<double> SyncedWrites(const std::string& path, int count) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return std::nullopt;
  const auto start = Clock::now();
  char line[32];
  for (int i = 0; i < count; ++i) {
    const int n = std::snprintf(line, sizeof line, "value %d\n", i);
    if (::write(fd, line, static_cast<size_t>(n)) != n || ::fdatasync(fd) != 0) {
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return Seconds(start);
}

}  // namespace
}  // namespace perimo::bench

int main(int argc, char** argv) {
  using namespace perimo::bench;
  int repeats = 5;
  int values = 10000;
  std::string executable;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--repeat") == 0) repeats = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--values") == 0) values = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--agent") == 0) executable = argv[i + 1];
  }
  if (executable.empty()) {
    const char* binDir = std::getenv("PERIMO_BIN_DIR");
    executable = binDir ? std::string(binDir) + "/perimo"
                        : (fs::read_symlink("/proc/self/exe").parent_path() / "perimo").string();
  }
  if (!fs::exists(executable)) {
    std::fprintf(stderr, "no agent at %s\n", executable.c_str());
    return 1;
  }
  char pattern[] = "/tmp/perimo-bench-listing-XXXXXX";
  const std::string work = ::mkdtemp(pattern);
  AgentProcess agent(work, executable);
  const std::string root = agent.driveC() + "/Proj";
  const size_t expected = MakeTree(root);
  if (!agent.Start()) {
    std::fprintf(stderr, "the agent did not start\n");
    return 1;
  }
  Workstation ws;
  if (!Connect(ws, agent)) {
    std::fprintf(stderr, "no connection to the agent\n");
    return 1;
  }

  // Alternate the two so that both see the same cache state; the fastest of each counts.
  std::optional<double> bestFind, bestAgent;
  size_t findLines = 0, names = 0, pages = 0;
  for (int round = 0; round < repeats; ++round) {
    const auto found = FindListing(root, findLines);
    if (found && (!bestFind || *found < *bestFind)) bestFind = found;
    const auto listed = AgentListing(ws, names, pages);
    if (listed && (!bestAgent || *listed < *bestAgent)) bestAgent = listed;
  }
  std::printf("listing: %zu files in %d folders, best of %d\n", expected, kTopFolders * kSubFolders,
              repeats);
  if (!bestFind || !bestAgent || names != expected || findLines != expected) {
    std::fprintf(stderr, "listing failed: agent %zu names, find %zu lines, expected %zu\n", names,
                 findLines, expected);
    return 1;
  }
  std::printf("  find                %8.1f ms\n", *bestFind * 1e3);
  std::printf("  agent 0x19 + 0x1A   %8.1f ms  (%zu pages)  ratio to find %.2f\n", *bestAgent * 1e3,
              pages, *bestAgent / *bestFind);

  // Registry: keep-alive round trips, then writes, then reads.
  auto start = Clock::now();
  for (int i = 0; i < values; ++i) {
    if (!ws.Request(perimo::workstation::Frame(0x80), kReplyTimeoutMs)) return 1;
  }
  const double roundTrips = Seconds(start);
  start = Clock::now();
  for (int i = 0; i < values; ++i) {
    const auto reply = ws.Request(RegistryFrame(0x2A, i, true), kReplyTimeoutMs);
    if (!reply || *reply != Bytes{0x06, '0'}) {
      std::fprintf(stderr, "registry write %d failed\n", i);
      return 1;
    }
  }
  const double writes = Seconds(start);
  start = Clock::now();
  for (int i = 0; i < values; ++i) {
    const auto reply = ws.Request(RegistryFrame(0x2B, i, false), kReplyTimeoutMs);
    const std::string expectedValue = "value " + std::to_string(i);
    if (!reply || reply->size() != expectedValue.size() + 3 ||
        !std::equal(expectedValue.begin(), expectedValue.end(), reply->begin() + 2)) {
      std::fprintf(stderr, "registry read %d failed\n", i);
      return 1;
    }
  }
  const double reads = Seconds(start);
  const auto synced = SyncedWrites(agent.driveC() + "/synced.txt", values);
  ws.Close();
  agent.Stop();

  std::printf("registry: %d values\n", values);
  std::printf("  keep-alive round trips %9.0f /s\n", values / roundTrips);
  if (synced) std::printf("  write + fdatasync      %9.0f /s\n", values / *synced);
  std::printf("  registry writes        %9.0f /s  ratio to write + fdatasync %.2f\n",
              values / writes, synced ? *synced / writes : 0.0);
  std::printf("  registry reads         %9.0f /s  ratio to round trips %.2f\n", values / reads,
              roundTrips / reads);
  fs::remove_all(work);
  return 0;
}
