#pragma once
// What a session talks through: a TCP connection or a serial line. Frames go out whole and
// replies come back whole, in order; the transport owns the envelope.
#include <optional>

#include "workstation/frames.h"

namespace perimo::workstation {

class Transport {
 public:
  virtual ~Transport() = default;

  virtual bool SendFrame(const Bytes& frame) = 0;
  // The next reply frame; nullopt when none came within timeoutMs or the link is gone.
  virtual std::optional<Bytes> ReceiveFrame(int timeoutMs) = 0;
  // False once the link is closed, by either end.
  virtual bool connected() const = 0;
  virtual void Close() = 0;
};

}  // namespace perimo::workstation
