#pragma once
// The serial link: the port opened from the settings, HandInts decoding requests on the
// library's reader thread, each frame handed to the main loop (the only place frames are
// dispatched), and SerialReply sending the answers in the line envelope. The link never
// encrypts and never touches the login state. Plain C++: the host supplies the queued call.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/connection.h"
#include "transport/serial/sc_serial.h"
#include "transport/seriallink/serial_envelope.h"

namespace perimo {

struct AgentState;

struct SerialLinkHooks {
  // Called on the reader thread when frames wait: the host then calls RunQueued on its main
  // loop. Must be safe from any thread (the agent writes to an eventfd).
  std::function<void()> wake;
  // The status window's connection status text; absent without a status window.
  std::function<void(std::u16string_view)> showConnectionStatus;
  std::function<void(std::u16string_view)> messageBox;
  // Switches the application's FramedMode off.
  std::function<void()> framedModeOff;
};

// Port configuration of the link (8 data bits, no parity, one stop bit).
SCPortConfig SerialLinkConfig(const AgentState& agent);
// The device of COMn: key "COMn" of section "Serial" of the agent's settings file, default
// /dev/ttyS<n-1>.
std::string SerialDevicePath(const AgentState& agent, int portIndex);

class SerialLink : public Connection {
 public:
  SerialLink(AgentState& agent, SerialLinkHooks hooks);
  ~SerialLink() override;
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // OpenSerialLink: closes, then opens the configured port; a refusal shows the library's
  // status text in a message box and leaves the link closed.
  bool Open();
  // CloseSerialLink: "Not connected to remote client", FramedMode off, connected flag clear.
  void Close();

  bool IsSerial() const override { return true; }
  int32_t ReplyLimit() const override { return kSerialSafeReplyLength; }
  bool open() const { return port_ != nullptr; }
  bool connected() const { return connected_; }
  generic_port* port() const { return port_; }

  // Main loop: dispatches the frames the reader thread queued, in arrival order.
  void RunQueued();

  // The body of SerialReply.
  int Reply(const uint8_t* data, int32_t length);

 private:
  struct Slot {
    bool busy = false;
    int32_t length = 0;
    uint8_t data[kSerialLineCapacity];
  };
  // Frames waiting for the main loop. The workstation waits for each reply, so one is in
  // flight; the others absorb a workstation that does not wait.
  static constexpr size_t kSlots = 4;

  static void OnFrame(generic_port* port, const uint8_t* frame, int32_t length);
  void Queue(const uint8_t* frame, int32_t length);
  void HandleFrame(size_t slot, int32_t length, uint64_t generation);
  void ShowConnectionStatus(int textId);

  AgentState& agent_;
  SerialLinkHooks hooks_;
  generic_port* port_ = nullptr;
  bool connected_ = false;
  // Under slotLock_: the slots, the order they were filled in, dropped oversize frames, and
  // the generation that a close advances.
  std::mutex slotLock_;
  std::array<Slot, kSlots> slots_;
  std::array<size_t, kSlots> queue_{};
  size_t queueHead_ = 0;
  size_t queueCount_ = 0;
  uint32_t oversizeDrops_ = 0;
  uint64_t generation_ = 0;
  uint8_t line_[kSerialLineCapacity];
};

// The ReplyFn of the serial link: 1 when the reply was handed to the port, 0 when it is
// refused because its line frame would not fit the port's buffer.
int SerialReply(Connection* connection, const uint8_t* data, int32_t length);

}  // namespace perimo
