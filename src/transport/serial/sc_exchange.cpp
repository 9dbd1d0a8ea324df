// One exchange on an open port: transmit the buffer, wait for the reply, watch the time-outs.
#include <algorithm>
#include <thread>

#include "transport/serial/sc_port.h"

namespace perimo::serial {
namespace {

// Longest a transmission or the wait for a reply may take, whatever the port's time-outs.
constexpr uint32_t kExchangeLimitMs = 30000;
// The constant part of the device's write time-out.
constexpr uint32_t kWriteConstantMs = 1000;
constexpr auto kPollPause = std::chrono::milliseconds(10);

std::atomic<uint32_t> lastSendTime{0};

bool Passed(uint32_t now, uint32_t since, uint32_t limit) {
  return now - since > limit;
}

void WaitForCts(generic_port* port) {
  const uint32_t start = SCTickCount();
  for (;;) {
    if (port->ctsSeen != 0 || (port->device->ModemLines() & kLineCts)) return;
    const uint32_t now = SCTickCount();
    if (now < start || now - start >= port->ctsTimeout) break;
    std::this_thread::sleep_for(kPollPause);
  }
  SCTrace(u"Warning: Timeout waiting CTS.");
}

}  // namespace

void TraceReceived(generic_port* port) {
  uint8_t shown[84];
  uint32_t count = 0;
  {
    std::lock_guard guard(port->lock);
    count = std::min<uint32_t>(port->rxLength, sizeof shown);
    for (uint32_t i = 0; i < count; ++i) shown[i] = RxAt(port, i);
  }
  TraceBytes(u"Rx:", shown, count);
}

}  // namespace perimo::serial

using namespace perimo::serial;

extern "C" {

int SCSendTxBuf(generic_port* port, const char* bytes, int count) {
  if (port == nullptr) return 0;
  lastSendTime = SCTickCount();
  SCClearTxBuffer(port);
  SCClearRxBuffer(port);
  if (port->txLength != 0 || port->status != 0) SCResetSerial(port);
  // Bytes beyond the transmit capacity are left out.
  if (SCWriteBuffer(port, bytes, count) == 0) return 0;
  return SCInitTx(port);
}

int SCInitTx(generic_port* port) {
  if (port == nullptr) return 0;
  port->status = 0;
  port->messageComplete = 0;
  port->transmitting = 1;
  port->replyPending = 0;
  port->txDoneTime = 0;
  port->firstByteTime = 0;
  port->lastByteTime = 0;
  port->txTime = 0;
  SCClearRxBuffer(port);
  if (port->txLength == 0) {
    port->status = SC_STATUS_TX_EMPTY;
    port->transmitting = 0;
    port->device->Wake();
    return 0;
  }
  SCResetSerial(port);
  {
    std::lock_guard guard(port->lock);
    if (port->echoEnabled) {
      port->echoCaptured = 0;
      port->echoExpected = std::min(port->txLength, port->echoCapacity);
    }
  }
  port->ctsSeen = 0;
  if (port->rtsControl) port->device->SetLine(kLineRts, true);
  if (port->verifyCts) WaitForCts(port);
  TraceBytes(u"Tx:", port->txBuffer.get(), port->txLength);

  port->txTime = SCTickCount();
  const uint16_t length = port->txLength;
  port->txLength = 0;
  const uint32_t timeout = kWriteConstantMs + port->writeMsPerByte * length;
  if (!port->device->Write(port->txBuffer.get(), length, timeout)) {
    {
      std::lock_guard guard(port->lock);
      port->echoExpected = 0;
    }
    port->status = SC_STATUS_TX_CHAR_TIMEOUT;
    port->device->SetLine(kLineRts, false);
    port->transmitting = 0;
    port->device->Wake();  // the reader waits for input again
    return 0;
  }
  return 1;
}

int SCWaitTxEmpty(generic_port* port) {
  if (port == nullptr) return 0;
  for (;;) {
    if (SCTickCount() - lastSendTime > kExchangeLimitMs) {
      port->status = SC_STATUS_TX_MESSAGE_TIMEOUT;
      port->device->SetLine(kLineRts, false);
      return 0;
    }
    if (port->transmitting == 0) return 1;
    SCVerifyTimeout(port);
    if (port->status != 0) {
      port->device->SetLine(kLineRts, false);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int SCWaitMessage(generic_port* port) {
  if (port == nullptr || port->status != 0) return 0;
  const uint32_t start = lastSendTime;
  for (;;) {
    const uint32_t now = SCTickCount();
    if (now < start || now - start >= kExchangeLimitMs || port->messageComplete != 0) break;
    SCVerifyTimeout(port);
    if (port->status != 0) return 0;
    SCWindowsExecute();
  }
  return 1;
}

void SCVerifyTimeout(generic_port* port) {
  if (port == nullptr) return;
  const uint32_t now = SCTickCount();
  if (port->status != 0) {
    TraceReceived(port);
    return;
  }
  if (port->transmitting != 0 && port->txTime != 0) {
    if (Passed(now, lastSendTime, kExchangeLimitMs)) {
      port->status = SC_STATUS_TX_MESSAGE_TIMEOUT;
      port->device->SetLine(kLineRts, false);
    } else if (Passed(now, port->txTime, port->txTimeout)) {
      port->txLength = 0;
      port->status = SC_STATUS_TX_CHAR_TIMEOUT;
      port->device->SetLine(kLineRts, false);
    }
    return;
  }
  if (port->messageComplete != 0) {
    TraceReceived(port);
    return;
  }
  const uint32_t done = port->txDoneTime;
  const uint32_t first = port->firstByteTime;
  if (done != 0 && first == 0) {
    if (Passed(now, done, port->startTimeout)) {
      port->status = SC_STATUS_START_TIMEOUT;
      port->replyPending = 0;
    }
    return;
  }
  if (first != 0 && port->endTimeout != 0 && Passed(now, first, port->endTimeout)) {
    port->status = SC_STATUS_END_TIMEOUT;
    TraceReceived(port);
    return;
  }
  if (Passed(now, port->lastByteTime, port->rxCharTimeout)) {
    port->status = SC_STATUS_RX_CHAR_TIMEOUT;
    TraceReceived(port);
  }
}

void SCUserAbort(generic_port* port) {
  if (port) port->status = SC_STATUS_USER_ABORT;
}

}  // extern "C"
