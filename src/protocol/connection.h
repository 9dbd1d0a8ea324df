#pragma once
// What the command protocol knows of a link: an opaque peer and the transport's reply
// function. Handlers reply only through ReplyFn and never look inside the connection.
#include <cstdint>

namespace perimo {

// Largest frame a transport hands to the dispatcher.
constexpr int32_t kMaxFrameLength = 130048;

class Connection {
 public:
  virtual ~Connection() = default;
  // TCP wraps every later frame in STX ... DLE ETX after the operating-system version reply;
  // other links ignore it.
  virtual void SetFramedMode(bool /*on*/) {}
  virtual bool IsSerial() const { return false; }
  // The longest reply the link always carries whole, whatever its bytes; handlers that read
  // blocks keep their replies within it.
  virtual int32_t ReplyLimit() const { return kMaxFrameLength; }
};

// 1 when the transport took the bytes, 0 when nothing was sent.
using ReplyFn = int (*)(Connection* connection, const uint8_t* bytes, int32_t count);

}  // namespace perimo
