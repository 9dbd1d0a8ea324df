#include "workstation/transfers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "security/sha1.h"

namespace perimo::workstation {
namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint32_t kMaxBlock = 32768;
// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDelta = 116444736000000000ull;

void AppendU64(Bytes& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t ReadU64(const Bytes& bytes, size_t offset) {
  return static_cast<uint64_t>(ReadU32(bytes, offset)) |
         static_cast<uint64_t>(ReadU32(bytes, offset + 4)) << 32;
}

std::string SystemText(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AppendTimes(Bytes& frame, const struct stat& st) {
  const uint64_t write = LocalFileTime(st.st_mtim);
  AppendU64(frame, write);  // creation: Linux file systems seldom report a birth time
  AppendU64(frame, LocalFileTime(st.st_atim));
  AppendU64(frame, write);
}

// Removes the temporary file unless it was put in place.
struct TempFile {
  std::string path;
  int fd = -1;
  bool kept = false;
  ~TempFile() {
    if (fd >= 0) close(fd);
    if (!kept && !path.empty()) unlink(path.c_str());
  }
};

}  // namespace

uint64_t LocalFileTime(timespec utc) {
  tm local{};
  localtime_r(&utc.tv_sec, &local);
  const int64_t wall = static_cast<int64_t>(timegm(&local));
  return static_cast<uint64_t>(wall * 10000000 + utc.tv_nsec / 100 +
                               static_cast<int64_t>(kEpochDelta));
}

timespec UtcFromLocalFileTime(uint64_t fileTime) {
  timespec out{};
  if (fileTime < kEpochDelta) return out;
  const uint64_t since = fileTime - kEpochDelta;
  const time_t wall = static_cast<time_t>(since / 10000000);
  tm t{};
  gmtime_r(&wall, &t);
  t.tm_isdst = -1;
  out.tv_sec = mktime(&t);
  out.tv_nsec = static_cast<long>(since % 10000000 * 100);
  return out;
}

Error PutFile(Session& session, const std::string& localPath, const std::string& remoteName,
              const PutOptions& options) {
  const int fd = open(localPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Fail(Outcome::kFailed, SystemText("cannot open", localPath, errno));
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Fail(Outcome::kFailed, "\"" + localPath + "\" is not a regular file");
  }
  if (static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) {
    return Fail(Outcome::kFailed, "\"" + localPath +
                                      "\" is too large: the agent takes files "
                                      "below 4 GiB");
  }
  const uint32_t size = static_cast<uint32_t>(st.st_size);
  uint32_t attributes = kArchive;
  if (!(st.st_mode & S_IWUSR)) attributes |= kReadOnly;
  if (BaseName(localPath).starts_with('.')) attributes |= kHidden;

  Bytes frame{0x2D};
  AppendU32(frame, size);
  if (Error e = session.AppendText(frame, remoteName, false)) return e;
  // TAB and a flag character switch sequence numbers on; '1' marks a compressed file.
  if (Error e = session.AppendText(frame, options.compressed ? "\t1" : "\t0", false)) return e;
  Bytes reply;
  if (Error e = session.CallAck(frame, reply, "cannot open " + remoteName)) return e;

  uint32_t sequence = 1;
  // On a serial line a block frame (code, sequence, size, data) fits the agent's frame
  // buffer, every block is answered, and each flush is answered before the next run leaves.
  const bool serial = session.serial();
  const uint32_t blockLimit = serial ? static_cast<uint32_t>(kSerialFrameLimit - 9) : kMaxBlock;
  const uint32_t capacity = std::max(options.runCapacity, blockLimit);
  uint32_t run = 0;
  int pendingFlushes = 0;
  uint64_t sent = 0;
  auto flushReply = [&]() -> Error {
    Bytes r;
    if (Error e = session.Receive(r)) return e;
    --pendingFlushes;
    if (r[0] != kAck) return Fail(Outcome::kFailed, "writing " + remoteName + ": " + NakText(r));
    return Ok();
  };
  auto flush = [&]() -> Error {
    Bytes f{0x2C};
    AppendU32(f, sequence++);
    if (Error e = session.Send(f)) return e;
    run = 0;
    // The next run leaves while the agent writes this one; its reply is read after that.
    if (++pendingFlushes > (serial ? 0 : 1)) return flushReply();
    return Ok();
  };
  Bytes block;
  while (sent < size) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(blockLimit, size - sent));
    if (run + n > capacity) {
      if (Error e = flush()) return e;
    }
    block.assign(9, 0);
    block[0] = 0x2E;
    block.resize(1);
    AppendU32(block, sequence++);
    AppendU32(block, n);
    block.resize(9 + n);
    uint32_t got = 0;
    while (got < n) {
      const ssize_t r = read(fd, block.data() + 9 + got, n - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        return Fail(Outcome::kFailed, r < 0 ? SystemText("cannot read", localPath, errno)
                                            : "\"" + localPath + "\" shrank while it was sent");
      }
      got += static_cast<uint32_t>(r);
    }
    if (serial) {
      if (Error e = session.CallAck(block, reply, "writing " + remoteName)) return e;
    } else if (Error e = session.Send(block)) {
      return e;
    }
    run += n;
    sent += n;
    if (options.progress) options.progress(sent);
  }
  if (run > 0) {
    if (Error e = flush()) return e;
  }
  while (pendingFlushes > 0) {
    if (Error e = flushReply()) return e;
  }
  Bytes closing{0x03};
  AppendU32(closing, sequence++);
  AppendTimes(closing, st);
  AppendU32(closing, attributes);
  return session.CallAck(closing, reply, "cannot finish " + remoteName);
}

Error GetFile(Session& session, const std::string& remoteName, const std::string& localPath,
              const GetOptions& options) {
  Bytes frame{0x04};
  if (Error e = session.AppendText(frame, remoteName)) return e;
  Bytes reply;
  if (Error e = session.CallAck(frame, reply, "cannot fetch " + remoteName)) return e;
  if (reply.size() < 5) return Fail(Outcome::kFailed, "malformed reply to 0x04");
  if (options.size) *options.size = ReadU32(reply, 1);

  TempFile temp;
  temp.path = localPath + ".perimo-XXXXXX";
  temp.fd = mkstemp(temp.path.data());
  if (temp.fd < 0) {
    temp.path.clear();
    return Fail(Outcome::kFailed, SystemText("cannot create a file beside", localPath, errno));
  }
  const int window = session.Window(options.window);
  int inFlight = 0;
  bool done = false;
  uint64_t received = 0;
  while (!done || inFlight > 0) {
    while (!done && inFlight < window) {
      if (Error e = session.Send(Frame(0x05))) return e;
      ++inFlight;
    }
    if (Error e = session.Receive(reply)) return e;
    --inFlight;
    if (reply[0] != kAck) {
      return Fail(Outcome::kFailed, "reading " + remoteName + ": " + NakText(reply));
    }
    const uint32_t n = ReadU32(reply, 1);
    if (reply.size() < 5 || reply.size() - 5 < n) {
      return Fail(Outcome::kConnection, "a block of " + remoteName + " came incomplete");
    }
    if (n == 0) {
      done = true;
    } else if (!done) {
      size_t at = 0;
      while (at < n) {
        const ssize_t w = write(temp.fd, reply.data() + 5 + at, n - at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return Fail(Outcome::kFailed, SystemText("cannot write", temp.path, errno));
        at += static_cast<size_t>(w);
      }
      received += n;
      if (options.progress) options.progress(received);
    }
  }
  if (Error e = session.CallAck(Frame(0x06), reply, "cannot finish " + remoteName)) return e;
  if (reply.size() >= 29) {
    const uint32_t attributes = ReadU32(reply, 25);
    const mode_t mask = umask(0);
    umask(mask);
    mode_t mode = 0666 & ~mask;
    if (attributes != kNoAttributes && (attributes & kReadOnly)) mode &= ~mode_t{0222};
    fchmod(temp.fd, mode);
    const uint64_t access = ReadU64(reply, 9);
    const uint64_t write = ReadU64(reply, 17);
    if (write != 0) {
      const timespec times[2] = {
          access ? UtcFromLocalFileTime(access) : UtcFromLocalFileTime(write),
          UtcFromLocalFileTime(write)};
      futimens(temp.fd, times);
    }
  }
  if (close(temp.fd) != 0) {
    temp.fd = -1;
    return Fail(Outcome::kFailed, SystemText("cannot write", temp.path, errno));
  }
  temp.fd = -1;
  if (rename(temp.path.c_str(), localPath.c_str()) != 0) {
    return Fail(Outcome::kFailed, SystemText("cannot create", localPath, errno));
  }
  temp.kept = true;
  return Ok();
}

Error RemoteDigests(Session& session, const std::vector<std::string>& remoteNames,
                    std::vector<Digest>& digests, std::vector<bool>& present, int window) {
  digests.assign(remoteNames.size(), Digest{});
  present.assign(remoteNames.size(), false);
  const size_t limit = static_cast<size_t>(std::max(1, session.Window(window)));
  size_t next = 0;
  std::vector<Bytes> batch;
  for (size_t got = 0; got < remoteNames.size(); ++got) {
    // Refilled in batches once half the window has come back: one write for many requests.
    if (next - got <= limit / 2) {
      batch.clear();
      for (; next < remoteNames.size() && next - got < limit; ++next) {
        Bytes frame{0x35};
        if (Error e = session.AppendText(frame, remoteNames[next])) return e;
        batch.push_back(std::move(frame));
      }
      if (!batch.empty()) {
        if (Error e = session.Send(batch)) return e;
      }
    }
    Bytes reply;
    if (Error e = session.Receive(reply)) return e;
    const DigestReply kind = ParseDigestReply(reply, digests[got]);
    present[got] = kind == DigestReply::kPresent;
    if (kind == DigestReply::kOther) {
      return Fail(Outcome::kFailed, "digest of " + remoteNames[got] + ": " + NakText(reply));
    }
  }
  return Ok();
}

Error RemoteDigest(Session& session, const std::string& remoteName, Digest& digest, bool& present) {
  std::vector<Digest> digests;
  std::vector<bool> found;
  if (Error e = RemoteDigests(session, {remoteName}, digests, found, 1)) return e;
  digest = digests[0];
  present = found[0];
  return Ok();
}

bool LocalDigest(const std::string& path, Digest& digest) {
  CSHA1 sha;
  if (!sha.HashFile(path)) return false;
  digest = sha.GetHash();
  return true;
}

std::string HexDigest(const Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

}  // namespace perimo::workstation
