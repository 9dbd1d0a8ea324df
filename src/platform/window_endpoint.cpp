#include "platform/window_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace perimo::platform {
namespace {

constexpr size_t kRequestSize = 16;

uint32_t Rotl(uint32_t v, int n) {
  return (v << n) | (v >> (32 - n));
}

void StoreLe(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t LoadLe(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A connected socket to the window, or -1.
int Connect(const std::string& path) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, uint8_t* bytes, size_t count, int timeoutMs) {
  while (count > 0) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = recv(fd, bytes, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool Request(WindowKey key, std::u16string_view name, const WindowMessage& message, int32_t* result,
             int timeoutMs) {
  const int fd = Connect(WindowSocketPath(key, name));
  if (fd < 0) return false;
  uint8_t request[kRequestSize];
  StoreLe(request, message.operation);
  StoreLe(request + 4, message.message);
  StoreLe(request + 8, message.wParam);
  StoreLe(request + 12, static_cast<uint32_t>(message.lParam));
  bool ok = WriteAll(fd, request, sizeof request);
  if (ok && result != nullptr) {
    uint8_t answer[4];
    ok = ReadAll(fd, answer, sizeof answer, timeoutMs);
    if (ok) *result = static_cast<int32_t>(LoadLe(answer));
  }
  close(fd);
  return ok;
}

}  // namespace

std::string Sha1Hex(std::string_view bytes) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string message(bytes);
  const uint64_t bits = static_cast<uint64_t>(bytes.size()) * 8;
  message.push_back(static_cast<char>(0x80));
  while (message.size() % 64 != 56) message.push_back('\0');
  for (int i = 7; i >= 0; --i) message.push_back(static_cast<char>(bits >> (8 * i)));
  for (size_t chunk = 0; chunk < message.size(); chunk += 64) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const uint8_t*>(message.data() + chunk + 4 * i);
      w[i] = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    }
    for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      uint32_t f, k;
      if (i < 20) {
        f = (b & c) | (~b & d), k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d, k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d, k = 0xCA62C1D6;
      }
      const uint32_t t = Rotl(a, 5) + f + e + k + w[i];
      e = d, d = c, c = Rotl(b, 30), b = a, a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint32_t v : h) {
    for (int i = 28; i >= 0; i -= 4) out.push_back(kHex[(v >> i) & 0xF]);
  }
  return out;
}

std::string WindowsFolder() {
  if (const char* dir = std::getenv("PERIMO_WINDOWS_DIR"); dir && *dir) return dir;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    return std::string(runtime) + "/perimo-windows";
  }
  return "/tmp/perimo-windows-" + std::to_string(getuid());
}

std::string WindowSocketPath(WindowKey key, std::u16string_view name) {
  std::string utf8 = ToUtf8(name);
  for (char& c : utf8) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return WindowsFolder() + (key == WindowKey::kClass ? "/class-" : "/title-") + Sha1Hex(utf8);
}

bool WindowExists(WindowKey key, std::u16string_view name) {
  const int fd = Connect(WindowSocketPath(key, name));
  if (fd < 0) return false;
  close(fd);  // the window sees a connection without a request and drops it
  return true;
}

bool PostWindowMessage(WindowKey key, std::u16string_view name, uint32_t message, uint32_t wParam,
                       int32_t lParam) {
  return Request(key, name, {kWindowPost, message, wParam, lParam}, nullptr, 0);
}

std::optional<int32_t> SendWindowMessage(WindowKey key, std::u16string_view name, uint32_t message,
                                         uint32_t wParam, int32_t lParam, int timeoutMs) {
  int32_t result = 0;
  if (!Request(key, name, {kWindowSend, message, wParam, lParam}, &result, timeoutMs)) {
    return std::nullopt;
  }
  return result;
}

WindowEndpoint::~WindowEndpoint() {
  Close();
}

bool WindowEndpoint::Open(WindowKey key, std::u16string_view name) {
  Close();
  const std::string folder = WindowsFolder();
  mkdir(folder.c_str(), 0700);
  const std::string path = WindowSocketPath(key, name);
  sockaddr_un address;
  if (!FillAddress(path, address)) return false;
  if (const int live = Connect(path); live >= 0) {
    close(live);
    return false;  // somebody answers under this name
  }
  unlink(path.c_str());  // a stale file left by a program that ended
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void WindowEndpoint::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  unlink(path_.c_str());
  path_.clear();
}

bool WindowEndpoint::ServeOne(const std::function<int32_t(const WindowMessage&)>& handler) {
  if (fd_ < 0) return false;
  const int peer = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (peer < 0) return false;
  uint8_t request[kRequestSize];
  // A connection that only looks for the window sends nothing.
  if (!ReadAll(peer, request, sizeof request, 1000)) {
    close(peer);
    return false;
  }
  WindowMessage message{LoadLe(request), LoadLe(request + 4), LoadLe(request + 8),
                        static_cast<int32_t>(LoadLe(request + 12))};
  const int32_t result = handler ? handler(message) : 0;
  if (message.operation == kWindowSend) {
    uint8_t answer[4];
    StoreLe(answer, static_cast<uint32_t>(result));
    WriteAll(peer, answer, sizeof answer);
  }
  close(peer);
  return true;
}

}  // namespace perimo::platform
