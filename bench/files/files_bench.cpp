// Throughput of downloads and uploads through a real agent over loopback.
//
// An extended download (0x2D, runs of 55 BufferBlock frames of 16 KiB closed by FlushBlocks,
// CloseDownload) and an upload (0x04, ReadBlock until empty, 0x06) of one file, in framed
// mode, in clear and under link encryption; the baseline is a plain TCP copy of the same
// file into the same folder in the same run. Also reports the agent's peak resident memory
// after a small and after the large download.
//
//   perimo-bench-files [--size-mib N] [--agent path/to/perimo] [--repeat N]
//
// Every transfer runs N times (default 5) and the fastest counts; a plain copy runs before each
// round, and the fastest of those is the baseline.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "agent_process.h"
#include "security/link_cipher.h"
#include "security/users_file.h"
#include "workstation/workstation.h"

namespace perimo::bench {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Workstation;

constexpr uint32_t kBlockSize = 16384;
constexpr int kBlocksPerFlush = 55;
constexpr int kReplyTimeoutMs = 60000;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process (the workstation side) so far.
double OwnCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Processor time of the waited-for children so far.
double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double MiBPerSecond(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

// Bytes that are not all alike, so that the envelope escapes some of them as it would
// escape real files.
std::vector<uint8_t> MakeContent(size_t size) {
  std::vector<uint8_t> content(size);
  uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    content[i] = static_cast<uint8_t>(x);
  }
  return content;
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == content.size();
}

bool SameContent(const std::string& path, const std::vector<uint8_t>& content) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  std::vector<uint8_t> chunk(1 << 20);
  size_t at = 0;
  bool same = true;
  for (;;) {
    ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n <= 0) break;
    if (at + static_cast<size_t>(n) > content.size() ||
        std::memcmp(chunk.data(), content.data() + at, static_cast<size_t>(n)) != 0) {
      same = false;
      break;
    }
    at += static_cast<size_t>(n);
  }
  ::close(fd);
  return same && at == content.size();
}

// Writes back what earlier runs left dirty and drops the earlier file, so that no run pays for
// the writeback of the one before it (the main source of the wandering figures).
void Settle(const std::string& folder, const std::string& previous) {
  std::error_code ignored;
  fs::remove(previous, ignored);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

// Plain TCP copy: a child process receives the file and writes it into the folder, then
// answers one byte; the parent sends it from memory.
// Processor seconds of the two sides of a transfer (receiver: the agent or the child).
struct CpuUse {
  double receiver = 0;
  double sender = 0;
};

std::optional<double> BaselineCopy(const std::vector<uint8_t>& content, const std::string& target,
                                   CpuUse& cpu) {
  const double childrenBefore = ChildrenCpuSeconds();
  const double ownBefore = OwnCpuSeconds();
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return std::nullopt;
  }
  pid_t child = ::fork();
  if (child == 0) {
    int peer = ::accept(listener, nullptr, nullptr);
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<uint8_t> buffer(kBlockSize * kBlocksPerFlush);
    for (;;) {
      ssize_t n = ::recv(peer, buffer.data(), buffer.size(), MSG_WAITALL);
      if (n <= 0) break;
      if (::write(fd, buffer.data(), static_cast<size_t>(n)) != n) ::_exit(1);
    }
    ::close(fd);
    const uint8_t done = 1;
    (void)!::send(peer, &done, 1, 0);
    ::_exit(0);
  }
  ::close(listener);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const auto start = Clock::now();
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return std::nullopt;
  size_t sent = 0;
  while (sent < content.size()) {
    ssize_t n =
        ::send(fd, content.data() + sent, std::min<size_t>(1 << 20, content.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  uint8_t done = 0;
  const bool ok = ::recv(fd, &done, 1, 0) == 1;
  const double seconds = Seconds(start);
  ::close(fd);
  int status = 0;
  cpu.sender = OwnCpuSeconds() - ownBefore;
  ::waitpid(child, &status, 0);
  cpu.receiver = ChildrenCpuSeconds() - childrenBefore;
  if (!ok) return std::nullopt;
  return seconds;
}

bool IsAck(const std::optional<Bytes>& reply) {
  return reply && !reply->empty() && (*reply)[0] == 0x06;
}

// The bulk path of the workstation side, kept out of the measurement's way: envelopes are
// built with run copies into one buffer per run of blocks and sent at once, replies are
// decoded the same way. The session itself is opened with the workstation library.
class FastLink {
 public:
  FastLink(int fd, const LinkCipher* cipher) : fd_(fd), cipher_(cipher) {
    out_.resize(4u << 20);
    in_.resize(1u << 20);
    sealed_.resize(kBlockSize + 64);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  }

  // Appends one frame (head bytes, then data) to the pending output.
  void Add(const uint8_t* head, size_t headLength, const uint8_t* data, size_t dataLength) {
    // Room for every byte doubled, the envelope and the cipher's padding.
    const size_t worst = 2 * (headLength + dataLength + 64) + 3;
    if (pending_ + worst > out_.size()) out_.resize(std::max(2 * out_.size(), pending_ + worst));
    out_[pending_++] = workstation::kStx;
    if (cipher_) {
      std::memcpy(sealed_.data(), head, headLength);
      std::memcpy(sealed_.data() + headLength, data, dataLength);
      const int32_t n =
          cipher_->EncryptFrame(sealed_.data(), static_cast<int32_t>(headLength + dataLength),
                                sealed_.data(), static_cast<int32_t>(sealed_.size()));
      Escape(sealed_.data(), static_cast<size_t>(n));
    } else {
      Escape(head, headLength);
      Escape(data, dataLength);
    }
    out_[pending_++] = workstation::kDle;
    out_[pending_++] = workstation::kEtx;
  }
  void Add(const Bytes& frame) { Add(frame.data(), frame.size(), nullptr, 0); }

  bool Send() {
    size_t sent = 0;
    while (sent < pending_) {
      ssize_t n = ::send(fd_, out_.data() + sent, pending_ - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    pending_ = 0;
    return true;
  }

  // The next whole reply frame, decrypted; empty on failure.
  const Bytes& Read() {
    frame_.clear();
    enum { kIdle, kIn, kDle } state = kIdle;
    for (;;) {
      while (at_ < filled_) {
        const uint8_t* p = in_.data() + at_;
        const size_t left = filled_ - at_;
        if (state == kIdle) {
          const void* stx = std::memchr(p, workstation::kStx, left);
          at_ = stx ? static_cast<size_t>(static_cast<const uint8_t*>(stx) - in_.data()) + 1
                    : filled_;
          if (stx) state = kIn;
        } else if (state == kIn) {
          const void* dle = std::memchr(p, workstation::kDle, left);
          const size_t run = dle ? static_cast<size_t>(static_cast<const uint8_t*>(dle) - p) : left;
          frame_.insert(frame_.end(), p, p + run);
          at_ += run;
          if (dle) {
            ++at_;
            state = kDle;
          }
        } else {
          const uint8_t c = in_[at_++];
          if (c == workstation::kEtx) return Finish();
          frame_.push_back(c);
          state = kIn;
        }
      }
      ssize_t n = ::recv(fd_, in_.data(), in_.size(), 0);
      if (n <= 0) {
        frame_.clear();
        return frame_;
      }
      at_ = 0;
      filled_ = static_cast<size_t>(n);
    }
  }

 private:
  // Copies runs up to and including each DLE, then the DLE's double, into the room Add made.
  void Escape(const uint8_t* p, size_t n) {
    while (n > 0) {
      const void* dle = std::memchr(p, workstation::kDle, n);
      const size_t run = dle ? static_cast<size_t>(static_cast<const uint8_t*>(dle) - p) + 1 : n;
      std::memcpy(out_.data() + pending_, p, run);
      pending_ += run;
      if (dle) out_[pending_++] = workstation::kDle;
      p += run;
      n -= run;
    }
  }

  const Bytes& Finish() {
    if (cipher_) {
      const int32_t n = cipher_->DecryptFrame(frame_.data(), static_cast<int32_t>(frame_.size()));
      frame_.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    return frame_;
  }

  int fd_;
  const LinkCipher* cipher_;
  Bytes out_;  // the pending output is its first pending_ bytes
  size_t pending_ = 0;
  Bytes in_;
  Bytes sealed_;
  Bytes frame_;
  size_t at_ = 0;
  size_t filled_ = 0;
};

bool IsAck(const Bytes& reply) {
  return !reply.empty() && reply[0] == 0x06;
}

// A framed session; under security also the secure link and the login.
bool OpenSession(Workstation& ws, uint16_t port, bool secure, LinkCipher& cipher) {
  if (!ws.Connect("127.0.0.1", port)) return false;
  if (secure) {
    auto link = ws.Request(workstation::Frame(0x3B));
    if (!IsAck(link) || link->size() < 3) return false;
    std::u16string hex(link->begin() + 1, link->end() - 1);
    const std::u16string key = CAESCryptoLibrary(kDefaultInternalKey).DecryptFromHex(hex);
    cipher = CAESCryptoLibrary(key);
    ws.encrypt = [&cipher](const Bytes& frame) { return cipher.EncryptFrame(frame); };
    ws.decrypt = [&cipher](const Bytes& bytes) -> std::optional<Bytes> {
      Bytes plain = bytes;
      const int32_t n = cipher.DecryptFrame(plain.data(), static_cast<int32_t>(plain.size()));
      if (n <= 0) return std::nullopt;
      plain.resize(static_cast<size_t>(n));
      return plain;
    };
    Bytes login(65, 0);
    login[0] = 0x25;
    std::memcpy(login.data() + 1, "bench", 5);
    uint8_t password[kScrambledFieldSize];
    ScrambleText(u"bench", password);
    std::memcpy(login.data() + 33, password, sizeof password);
    auto granted = ws.Request(login);
    if (!IsAck(granted) || granted->size() < 2 || (*granted)[1] != '1') return false;
  }
  if (!IsAck(ws.Request(workstation::Frame(0x13)))) return false;
  ws.SetFramed(true);
  return true;
}

std::optional<double> Download(FastLink& link, const std::vector<uint8_t>& content,
                               const std::string& wireName) {
  const auto start = Clock::now();
  Bytes open{0x2D};
  workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
  open.insert(open.end(), wireName.begin(), wireName.end());
  link.Add(open);
  if (!link.Send() || !IsAck(link.Read())) return std::nullopt;
  // Each run of blocks is built while the agent works on the run before and sent once that
  // run's FlushBlocks is acknowledged: the wire sees the same order as a stop-and-wait
  // client, but the building stays off the agent's path.
  const Bytes flush = workstation::Frame(0x2C);
  size_t at = 0;
  auto addRun = [&] {
    for (int i = 0; i < kBlocksPerFlush && at < content.size(); ++i, at += kBlockSize) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlockSize, content.size() - at));
      const uint8_t head[5] = {0x2E, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
      link.Add(head, sizeof head, content.data() + at, n);
    }
    link.Add(flush);
  };
  if (!content.empty()) {
    addRun();
    if (!link.Send()) return std::nullopt;
    for (;;) {
      const bool more = at < content.size();
      if (more) addRun();
      if (!IsAck(link.Read())) return std::nullopt;
      if (!more) break;
      if (!link.Send()) return std::nullopt;
    }
  }
  Bytes close(1 + 28, 0);
  close[0] = 0x03;
  close[25] = 0x20;  // archive
  link.Add(close);
  if (!link.Send() || !IsAck(link.Read())) return std::nullopt;
  return Seconds(start);
}

std::optional<double> Upload(FastLink& link, const std::vector<uint8_t>& content,
                             const std::string& wireName) {
  const auto start = Clock::now();
  link.Add(workstation::TextFrame(0x04, wireName));
  if (!link.Send()) return std::nullopt;
  const Bytes& opened = link.Read();
  if (!IsAck(opened) || workstation::ReadU32(opened, 1) != content.size()) return std::nullopt;
  size_t at = 0;
  const Bytes readBlock = workstation::Frame(0x05);
  for (;;) {
    link.Add(readBlock);
    if (!link.Send()) return std::nullopt;
    const Bytes& reply = link.Read();
    if (!IsAck(reply) || reply.size() < 5) return std::nullopt;
    const uint32_t count = workstation::ReadU32(reply, 1);
    if (count == 0) break;
    if (reply.size() != count + 5u || at + count > content.size() ||
        std::memcmp(reply.data() + 5, content.data() + at, count) != 0) {
      return std::nullopt;
    }
    at += count;
  }
  link.Add(workstation::Frame(0x06));
  if (!link.Send() || !IsAck(link.Read())) return std::nullopt;
  if (at != content.size()) return std::nullopt;
  return Seconds(start);
}

struct Figures {
  std::optional<double> download;
  std::optional<double> upload;
  CpuUse downloadCpu;
  CpuUse uploadCpu;
  uint64_t peakSmallKiB = 0;
  uint64_t peakLargeKiB = 0;
};

// The fastest plain copy so far; a copy runs before every measured round so that the baseline
// and the transfers see the same state of the machine.
struct Baseline {
  std::string target;
  std::optional<double> seconds;
  CpuUse cpu;

  void Run(const std::vector<uint8_t>& content) {
    Settle(fs::path(target).parent_path(), target);
    CpuUse use;
    const auto copy = BaselineCopy(content, target, use);
    if (copy && (!seconds || *copy < *seconds)) {
      seconds = copy;
      cpu = use;
    }
    Settle(fs::path(target).parent_path(), target);
  }
};

Figures Measure(const std::string& work, const std::string& executable,
                const std::vector<uint8_t>& content, bool secure, int repeats, Baseline& baseline) {
  Figures figures;
  AgentProcess agent(work, executable);
  if (secure) {
    UserList users{{u"bench", u"bench", {1, 1, 1, 1, 1}}};
    const auto file = SerializeUsersFile(users, true);
    agent.usersFile.assign(file.begin(), file.end());
  }
  if (!agent.Start()) {
    std::fprintf(stderr, "the agent did not start (see %s/agent.log)\n", work.c_str());
    return figures;
  }
  LinkCipher cipher;
  Workstation ws;
  if (!OpenSession(ws, agent.port(), secure, cipher)) {
    std::fprintf(stderr, "no %s session with the agent\n", secure ? "secure" : "plain");
    return figures;
  }
  FastLink link(ws.descriptor(), secure ? &cipher : nullptr);
  const std::string source = agent.driveC() + "/source.bin";
  const std::string target = agent.driveC() + "/download.bin";
  WriteWhole(source, content);

  // Warm-up and the memory figure of a small file.
  const std::vector<uint8_t> small(content.begin(),
                                   content.begin() + std::min<size_t>(content.size(), 16u << 20));
  if (!Download(link, small, "C:\\download.bin")) std::fprintf(stderr, "small download failed\n");
  figures.peakSmallKiB = agent.PeakResidentKiB();
  fs::remove(target);

  // Each transfer runs `repeats` times; the fastest run counts (others share the machine).
  for (int round = 0; round < repeats; ++round) {
    baseline.Run(content);
    Settle(agent.driveC(), target);
    double agentBefore = agent.CpuSeconds();
    double ownBefore = OwnCpuSeconds();
    auto download = Download(link, content, "C:\\download.bin");
    const CpuUse downloadCpu{agent.CpuSeconds() - agentBefore, OwnCpuSeconds() - ownBefore};
    figures.peakLargeKiB = agent.PeakResidentKiB();
    if (download && !SameContent(target, content)) {
      std::fprintf(stderr, "downloaded file differs\n");
      return figures;
    }
    if (!download) return figures;
    if (!figures.download || *download < *figures.download) {
      figures.download = download;
      figures.downloadCpu = downloadCpu;
    }
    Settle(agent.driveC(), target);
    agentBefore = agent.CpuSeconds();
    ownBefore = OwnCpuSeconds();
    auto upload = Upload(link, content, "C:\\source.bin");
    const CpuUse uploadCpu{agent.CpuSeconds() - agentBefore, OwnCpuSeconds() - ownBefore};
    if (!upload) return figures;
    if (!figures.upload || *upload < *figures.upload) {
      figures.upload = upload;
      figures.uploadCpu = uploadCpu;
    }
  }
  ws.Close();
  agent.Stop();
  return figures;
}

// The processor times show where the time goes even when the machine is busy with other
// work and the wall-clock rates wander.
void Print(const char* what, const std::optional<double>& seconds, uint64_t bytes, double baseline,
           const CpuUse& cpu) {
  if (!seconds) {
    std::printf("%-28s failed\n", what);
    return;
  }
  const double rate = MiBPerSecond(bytes, *seconds);
  std::printf(
      "%-28s %8.3f s %9.1f MiB/s %6.1f %% of baseline   cpu: receiver %.2f s, sender %.2f s\n",
      what, *seconds, rate, baseline > 0 ? 100.0 * rate / baseline : 0.0, cpu.receiver, cpu.sender);
}

}  // namespace
}  // namespace perimo::bench

int main(int argc, char** argv) {
  using namespace perimo::bench;
  size_t sizeMiB = 256;
  int repeats = 5;
  std::string executable;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::strtoul(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--repeat") == 0) repeats = std::max(1, std::atoi(argv[i + 1]));
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
  char pattern[] = "/tmp/perimo-bench-files-XXXXXX";
  const std::string work = ::mkdtemp(pattern);
  const std::vector<uint8_t> content = MakeContent(sizeMiB << 20);
  const uint64_t bytes = content.size();

  fs::create_directories(work + "/baseline");
  Baseline baseline{work + "/baseline/copy.bin", std::nullopt, {}};
  const Figures plain = Measure(work + "/plain", executable, content, false, repeats, baseline);
  const Figures secure = Measure(work + "/secure", executable, content, true, repeats, baseline);
  const double baseRate = baseline.seconds ? MiBPerSecond(bytes, *baseline.seconds) : 0;

  std::printf(
      "file of %zu MiB, blocks of %u bytes, a flush every %d blocks, framed, best of %d "
      "(baseline: best of the %d copies run before each round)\n",
      sizeMiB, kBlockSize, kBlocksPerFlush, repeats, 2 * repeats);
  Print("plain TCP copy (baseline)", baseline.seconds, bytes, baseRate, baseline.cpu);
  Print("download", plain.download, bytes, baseRate, plain.downloadCpu);
  // An upload's receiver is the workstation side: the agent is shown as the sender.
  Print("upload", plain.upload, bytes, baseRate,
        {plain.uploadCpu.sender, plain.uploadCpu.receiver});
  Print("download, encrypted link", secure.download, bytes, baseRate, secure.downloadCpu);
  Print("upload, encrypted link", secure.upload, bytes, baseRate,
        {secure.uploadCpu.sender, secure.uploadCpu.receiver});
  std::printf(
      "agent VmHWM: after 16 MiB %llu KiB, after %zu MiB %llu KiB (plain); "
      "%llu / %llu KiB (encrypted)\n",
      static_cast<unsigned long long>(plain.peakSmallKiB), sizeMiB,
      static_cast<unsigned long long>(plain.peakLargeKiB),
      static_cast<unsigned long long>(secure.peakSmallKiB),
      static_cast<unsigned long long>(secure.peakLargeKiB));
  // PERIMO_BENCH_KEEP keeps the folders (and the agent copies, for a profiler's symbols).
  if (!std::getenv("PERIMO_BENCH_KEEP")) fs::remove_all(work);
  const bool ok =
      baseline.seconds && plain.download && plain.upload && secure.download && secure.upload;
  return ok ? 0 : 1;
}
