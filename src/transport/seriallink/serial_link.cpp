#include "transport/seriallink/serial_link.h"

#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/agent_state.h"
#include "protocol/dispatcher.h"
#include "protocol/status_text.h"
#include "transport/seriallink/hand_ints.h"

namespace perimo {
namespace {

constexpr uint8_t kConnect = 0x80;
constexpr uint8_t kDisconnect = 0x81;

// The link that receives HandInts' frames; set while a port is open.
std::atomic<SerialLink*> activeLink{nullptr};

}  // namespace

SCPortConfig SerialLinkConfig(const AgentState& agent) {
  SCPortConfig c{};
  c.portIndex = agent.settings.serialPort;
  c.baudRate = agent.settings.serialBaud;
  c.dataBits = 8;
  c.stopBits = 1;
  c.parity = SC_PARITY_NONE;
  c.startTimeout = 2000;
  c.endTimeout = 0;
  c.charTimeout = 2000;
  c.ctsTimeout = 0;
  c.verifyCts = agent.settings.serialCts;
  c.rtsMode = agent.settings.serialRts;
  c.options = 0;
  c.txBufferSize = kSerialLineCapacity;
  c.rxBufferSize = kSerialLineCapacity;
  return c;
}

std::string SerialDevicePath(const AgentState& agent, int portIndex) {
  const std::u16string fallback = platform::Ascii("/dev/ttyS" + std::to_string(portIndex));
  std::u16string path;
  const std::u16string key = platform::Ascii("COM" + std::to_string(portIndex + 1));
  platform::GetPrivateProfileString(u"Serial", key, fallback, path, 1024, agent.paths.agentIniPath);
  return platform::ToUtf8(path);
}

SerialLink::SerialLink(AgentState& agent, SerialLinkHooks hooks)
    : agent_(agent), hooks_(std::move(hooks)) {}

SerialLink::~SerialLink() {
  Close();
}

bool SerialLink::Open() {
  Close();
  const SCPortConfig config = SerialLinkConfig(agent_);
  if (config.portIndex >= 0 && config.portIndex < SC_MAX_PORTS) {
    SCSetPortDevice(config.portIndex, SerialDevicePath(agent_, config.portIndex).c_str());
  }
  int status = 0;
  generic_port* port = SCPortOpen(0, &config, &status);
  if (port == nullptr) {
    if (hooks_.messageBox) hooks_.messageBox(SerialStatusText(status));
    return false;
  }
  port_ = port;
  // Nothing decodes yet: HandInts is installed below.
  ResetHandInts();
  activeLink = this;
  SetSerialFrameSink(&SerialLink::OnFrame);
  SCInstallUserRoutine(port_, HandInts);
  return true;
}

void SerialLink::Close() {
  if (port_ != nullptr) {
    // Joins the reader thread: no frame arrives from this port afterwards.
    SCPortClose(port_);
    port_ = nullptr;
    activeLink = nullptr;
    {
      std::lock_guard guard(slotLock_);
      ++generation_;
      for (Slot& slot : slots_) slot.busy = false;
      queueHead_ = queueCount_ = 0;
      oversizeDrops_ = 0;
    }
    ShowConnectionStatus(kTextNotConnected);
    if (hooks_.framedModeOff) hooks_.framedModeOff();
  }
  connected_ = false;
}

// Reader thread: the frame is copied out of the decoder before the next byte can change it.
void SerialLink::OnFrame(generic_port* port, const uint8_t* frame, int32_t length) {
  SerialLink* link = activeLink.load();
  if (link == nullptr || link->port_ != port) return;
  link->Queue(frame, length);
}

void SerialLink::Queue(const uint8_t* frame, int32_t length) {
  {
    std::lock_guard guard(slotLock_);
    if (length < 0) {
      ++oversizeDrops_;
    } else {
      size_t index = kSlots;
      for (size_t i = 0; i < kSlots; ++i) {
        if (!slots_[i].busy) {
          index = i;
          break;
        }
      }
      if (index == kSlots) return;  // the main loop is behind by kSlots frames: dropped
      Slot& slot = slots_[index];
      slot.busy = true;
      slot.length = length;
      std::copy(frame, frame + length, slot.data);
      queue_[(queueHead_ + queueCount_) % kSlots] = index;
      ++queueCount_;
    }
  }
  if (hooks_.wake) hooks_.wake();
}

void SerialLink::RunQueued() {
  for (;;) {
    size_t index = kSlots;
    uint64_t generation = 0;
    int32_t length = 0;
    uint32_t drops = 0;
    {
      std::lock_guard guard(slotLock_);
      drops = oversizeDrops_;
      oversizeDrops_ = 0;
      if (queueCount_ > 0) {
        index = queue_[queueHead_];
        queueHead_ = (queueHead_ + 1) % kSlots;
        --queueCount_;
        length = slots_[index].length;
      }
      generation = generation_;
    }
    for (uint32_t i = 0; i < drops; ++i) {
      agent_.AddStatusLine(FormatStatusText(kTextReceiveFrameTooLong, {kSerialLineCapacity}));
    }
    if (index == kSlots) return;
    HandleFrame(index, length, generation);
  }
}

// Main loop: the connection state from 0x80 and 0x81, then the dispatcher. The slot stays
// taken, so the reader thread leaves it alone, until the frame is handled.
void SerialLink::HandleFrame(size_t index, int32_t length, uint64_t generation) {
  Slot& slot = slots_[index];
  if (length > 0 && slot.data[0] == kConnect) {
    connected_ = true;
    ShowConnectionStatus(kTextConnected);
  } else if (length > 0 && slot.data[0] == kDisconnect) {
    connected_ = false;
    ShowConnectionStatus(kTextNotConnected);
    if (hooks_.framedModeOff) hooks_.framedModeOff();
  }
  DispatchFrame(agent_, slot.data, length, this, SerialReply);
  std::lock_guard guard(slotLock_);
  // A link closed (and perhaps reopened) inside the handler has freed its slots already.
  if (generation == generation_) slot.busy = false;
}

int SerialLink::Reply(const uint8_t* data, int32_t length) {
  if (length < 0 || (length > 0 && data == nullptr)) return 0;
  const int32_t n = EncodeSerialFrame(data, length, line_, kSerialLineCapacity);
  if (n < 0) {
    // Cut by the port it would reach the workstation as a broken frame: refused whole.
    agent_.AddStatusLine(FormatStatusText(kTextReplyTooLong,
                                          {SerialFrameLength(data, length), kSerialLineCapacity}));
    return 0;
  }
  if (port_ == nullptr) return 0;
  // A failed transmission is recorded in the port's status; the reply counts as sent.
  SCSendTxBuf(port_, reinterpret_cast<const char*>(line_), n);
  return 1;
}

void SerialLink::ShowConnectionStatus(int textId) {
  if (hooks_.showConnectionStatus) hooks_.showConnectionStatus(StatusText(textId));
}

int SerialReply(Connection* connection, const uint8_t* data, int32_t length) {
  return connection != nullptr ? static_cast<SerialLink*>(connection)->Reply(data, length) : 0;
}

}  // namespace perimo
