#pragma once
// Windows of other programs, on Linux. A program that wants to be found by window class or
// title listens on a Unix-domain stream socket in the windows folder, named "class-" or
// "title-" and the lower-case hexadecimal SHA-1 of the ASCII-lower-cased UTF-8 name. Finding
// a window is connecting to its socket. One request per connection, 16 bytes little-endian:
// u32 operation (1 post, 2 send), u32 message, u32 wParam, i32 lParam. A post gets no
// answer; a send gets a 4-byte little-endian result, then the connection closes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace perimo::platform {

enum class WindowKey { kClass, kTitle };

constexpr uint32_t kWindowPost = 1;
constexpr uint32_t kWindowSend = 2;
constexpr uint32_t kWmActivate = 6;
constexpr uint32_t kWmClose = 16;

struct WindowMessage {
  uint32_t operation = kWindowPost;
  uint32_t message = 0;
  uint32_t wParam = 0;
  int32_t lParam = 0;
};

// $PERIMO_WINDOWS_DIR, else $XDG_RUNTIME_DIR/perimo-windows, else /tmp/perimo-windows-<uid>.
std::string WindowsFolder();
std::string WindowSocketPath(WindowKey key, std::u16string_view name);

// Whether a window of that class or title exists (its socket accepts a connection).
bool WindowExists(WindowKey key, std::u16string_view name);
bool PostWindowMessage(WindowKey key, std::u16string_view name, uint32_t message, uint32_t wParam,
                       int32_t lParam);
// The window's result, or nullopt when there is no window or it did not answer in time.
std::optional<int32_t> SendWindowMessage(WindowKey key, std::u16string_view name, uint32_t message,
                                         uint32_t wParam, int32_t lParam, int timeoutMs = 5000);

// The listening side: one socket for one class or title. Not thread-safe; serve it from the
// owner's event loop by watching descriptor() for reading.
class WindowEndpoint {
 public:
  WindowEndpoint() = default;
  ~WindowEndpoint();
  WindowEndpoint(const WindowEndpoint&) = delete;
  WindowEndpoint& operator=(const WindowEndpoint&) = delete;

  // Creates the folder and the socket; a stale socket file (nobody listening) is replaced.
  // False when another live endpoint holds the name or the socket cannot be made.
  bool Open(WindowKey key, std::u16string_view name);
  void Close();
  int descriptor() const { return fd_; }
  const std::string& path() const { return path_; }

  // Accepts one waiting request, reads it (briefly waiting for its 16 bytes), passes it to the
  // handler and, for a send, writes the handler's result back. False when nothing was served.
  bool ServeOne(const std::function<int32_t(const WindowMessage&)>& handler);

 private:
  int fd_ = -1;
  std::string path_;
};

// Lower-case hexadecimal SHA-1 of bytes (the socket names).
std::string Sha1Hex(std::string_view bytes);

}  // namespace perimo::platform
