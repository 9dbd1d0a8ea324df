// A 1 MiB download (extended procedure with sequence numbers, every block answered) and a
// 1 MiB upload of random data over a pseudo-terminal pair, with the blocks the serial line
// takes by default: a download block as large as the agent's 2048-byte frame buffer allows, an
// upload block as the agent reads it from the default PackSize. Every byte on the line is
// counted in both directions. The baseline is a peer on another pair that answers every
// request at once, without files: the agent's time is given as a ratio to it.
//
// A pseudo-terminal does not pace at the baud rate, so the times show the cost per block of
// the agent (and the test's side); the efficiency gives the time a real line needs.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "files/agent_process.h"
#include "transport/seriallink/serial_envelope.h"
#include "transport/seriallink/serial_frame_decoder.h"
#include "workstation/serial_workstation.h"

namespace {

namespace fs = std::filesystem;
using perimo::workstation::Bytes;
using perimo::workstation::SerialWorkstation;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kFileSize = 1 << 20;
// Request body: code, sequence number, block size, data.
constexpr uint32_t kDownloadBlock = perimo::kSerialLineCapacity - 9;
constexpr int kBlocksPerFlush = 55;
constexpr uint32_t kUploadBlock = perimo::kSerialSafeReplyLength - 5;
constexpr double kBaud = 115200;
constexpr double kBitsPerByte = 10;  // start, 8 data bits, stop

struct Run {
  bool ok = false;
  double seconds = 0;
  uint64_t lineBytes = 0;
  uint32_t blocks = 0;
};

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

Run Download(SerialWorkstation& ws, const std::string& content) {
  Run run;
  ws.ResetCounts();
  const auto t0 = Clock::now();
  auto ask = [&](const Bytes& frame) { return ws.Request(frame, 30000) == Bytes{0x06}; };
  Bytes open{0x2D};
  perimo::workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
  const std::string name = "C:\\bench.bin\t0";
  open.insert(open.end(), name.begin(), name.end());
  if (!ask(open)) return run;
  uint32_t sequence = 1;
  int buffered = 0;
  for (size_t at = 0; at < content.size(); at += kDownloadBlock) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kDownloadBlock, content.size() - at));
    Bytes block(9 + n);
    block[0] = 0x2E;
    std::memcpy(block.data() + 1, &sequence, 4);
    std::memcpy(block.data() + 5, &n, 4);
    std::memcpy(block.data() + 9, content.data() + at, n);
    ++sequence;
    if (!ask(block)) return run;
    ++run.blocks;
    if (++buffered == kBlocksPerFlush || at + n == content.size()) {
      Bytes flush{0x2C};
      perimo::workstation::AppendU32(flush, sequence++);
      if (!ask(flush)) return run;
      buffered = 0;
    }
  }
  Bytes close{0x03};
  perimo::workstation::AppendU32(close, sequence);
  close.resize(close.size() + 24, 0);
  perimo::workstation::AppendU32(close, 0x20);
  if (!ask(close)) return run;
  run.seconds = Since(t0);
  run.lineBytes = ws.bytesSent() + ws.bytesReceived();
  run.ok = true;
  return run;
}

Run Upload(SerialWorkstation& ws, const std::string& expected) {
  Run run;
  ws.ResetCounts();
  const auto t0 = Clock::now();
  Bytes open{0x04};
  const std::string name = "C:\\up.bin";
  open.insert(open.end(), name.begin(), name.end());
  auto opened = ws.Request(open, 30000);
  if (!opened || opened->empty() || (*opened)[0] != 0x06) return run;
  std::string received;
  for (;;) {
    auto reply = ws.Request(Bytes{0x05}, 30000);
    if (!reply || reply->size() < 5 || (*reply)[0] != 0x06) return run;
    const uint32_t count = perimo::workstation::ReadU32(*reply, 1);
    if (count == 0) break;
    received.append(reply->begin() + 5, reply->end());
    ++run.blocks;
  }
  if (!ws.Request(Bytes{0x06}, 30000)) return run;
  run.seconds = Since(t0);
  run.lineBytes = ws.bytesSent() + ws.bytesReceived();
  run.ok = received == expected;
  return run;
}

// The baseline peer: decodes requests like the agent and answers at once from memory.
class InstantPeer {
 public:
  InstantPeer(const std::string& path, const std::string& file) : file_(file) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
  }
  ~InstantPeer() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  void Serve() {
    perimo::SerialFrameDecoder decoder;
    uint8_t buffer[4096];
    std::vector<uint8_t> reply(perimo::kSerialLineCapacity), line(perimo::kSerialLineCapacity);
    uint32_t offset = 0;
    while (!stop_) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) continue;
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < n; ++i) {
        if (decoder.Feed(buffer[i], 1, 2000) != perimo::SerialFrameDecoder::kFrame) continue;
        if (decoder.length() == 0) continue;
        int32_t length = 1;
        reply[0] = 0x06;
        if (decoder.frame()[0] == 0x05) {
          const uint32_t count =
              std::min<uint32_t>(kUploadBlock, static_cast<uint32_t>(file_.size()) - offset);
          std::memcpy(reply.data() + 1, &count, 4);
          std::memcpy(reply.data() + 5, file_.data() + offset, count);
          offset += count;
          length = static_cast<int32_t>(5 + count);
        } else if (decoder.frame()[0] == 0x04) {
          offset = 0;
          const uint32_t size = static_cast<uint32_t>(file_.size());
          std::memcpy(reply.data() + 1, &size, 4);
          reply[5] = 0;
          length = 6;
        } else if (decoder.frame()[0] == 0x06) {
          std::memset(reply.data() + 1, 0, 29);
          length = 30;
        }
        const int32_t total = perimo::EncodeSerialFrame(reply.data(), length, line.data(),
                                                        perimo::kSerialLineCapacity);
        if (total > 0) [[maybe_unused]]
          ssize_t ignored = ::write(fd_, line.data(), total);
      }
    }
  }

  std::string file_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

Run Fastest(const Run& a, const Run& b) {
  if (!a.ok) return b;
  if (!b.ok) return a;
  return b.seconds < a.seconds ? b : a;
}

void Print(const char* what, const Run& run, const Run& baseline) {
  if (!run.ok) {
    std::printf("%-10s failed\n", what);
    return;
  }
  const double efficiency = 100.0 * kFileSize / static_cast<double>(run.lineBytes);
  const double perBlockMs = 1000.0 * run.seconds / run.blocks;
  const double lineMsPerBlock =
      1000.0 * (static_cast<double>(run.lineBytes) / run.blocks) * kBitsPerByte / kBaud;
  std::printf(
      "%-10s %8.3f s %5u blocks  line %9llu bytes  efficiency %5.1f %%  %.3f ms/block = %4.1f %% "
      "of "
      "%.1f ms at 115200 baud  %.2fx the baseline\n",
      what, run.seconds, run.blocks, static_cast<unsigned long long>(run.lineBytes), efficiency,
      perBlockMs, 100.0 * perBlockMs / lineMsPerBlock, lineMsPerBlock,
      baseline.ok && baseline.seconds > 0 ? run.seconds / baseline.seconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string executable;
  int repeats = 3;  // the fastest run counts: a loaded machine delays the pseudo-terminal
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--agent") == 0) executable = argv[i + 1];
    if (std::strcmp(argv[i], "--repeat") == 0) repeats = std::max(1, std::atoi(argv[i + 1]));
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
  std::string content(kFileSize, 0);
  std::mt19937 random(12);
  for (char& c : content) c = static_cast<char>(random());
  std::string upload(kFileSize, 0);
  for (char& c : upload) c = static_cast<char>(random());

  Run baseDown, baseUp;
  {
    SerialWorkstation ws;
    if (!ws.OpenPty()) return 1;
    InstantPeer peer(ws.devicePath(), upload);
    for (int i = 0; i < repeats; ++i) {
      baseDown = Fastest(baseDown, Download(ws, content));
      baseUp = Fastest(baseUp, Upload(ws, upload));
    }
  }

  char pattern[] = "/tmp/perimo-bench-serial-XXXXXX";
  const std::string work = ::mkdtemp(pattern);
  SerialWorkstation ws;
  if (!ws.OpenPty()) return 1;
  perimo::bench::AgentProcess agent(work, executable);
  agent.waitForPort = false;
  agent.extraSettings = "[Setup]\nDevice=0\nSerialPort=0\n[Serial]\nCOM1=" + ws.devicePath() + "\n";
  fs::create_directories(agent.driveC());
  std::ofstream(agent.driveC() + "/up.bin", std::ios::binary) << upload;
  Run down, up;
  double cpu = -1;
  if (agent.Start() && ws.WaitReady()) {
    for (int i = 0; i < repeats; ++i) {
      down = Fastest(down, Download(ws, content));
      up = Fastest(up, Upload(ws, upload));
    }
    cpu = agent.CpuSeconds() / repeats;
  }
  agent.Stop();
  std::string written;
  {
    std::ifstream in(agent.driveC() + "/bench.bin", std::ios::binary);
    written.assign(std::istreambuf_iterator<char>(in), {});
  }
  down.ok = down.ok && written == content;

  std::printf("serial line, 1 MiB random data, download blocks %u, upload blocks %u\n",
              kDownloadBlock, kUploadBlock);
  Print("baseline down", baseDown, baseDown);
  Print("baseline up", baseUp, baseUp);
  Print("download", down, baseDown);
  Print("upload", up, baseUp);
  std::printf("agent processor time per download and upload %.3f s\n", cpu);
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return down.ok && up.ok ? 0 : 1;
}
