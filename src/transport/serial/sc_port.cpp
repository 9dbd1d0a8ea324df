// Opening and closing ports, their buffers and the reader thread.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "transport/serial/sc_port.h"

namespace perimo::serial {
namespace {

std::mutex tableLock;
std::array<generic_port*, SC_MAX_PORTS> portTable{};
std::array<std::string, SC_MAX_PORTS> devicePaths;
std::atomic<DeviceOpener> deviceOpener{nullptr};

// A chunk the reader takes from the device at once.
constexpr size_t kReadChunk = 1024;
constexpr uint32_t kFailedWaitPauseMs = 100;
constexpr uint16_t kLongestTimeout = 60000;
constexpr uint32_t kLeastTxTimeout = 60;

uint16_t ClampTimeout(uint16_t ms) {
  return ms == 0 || ms > kLongestTimeout ? kLongestTimeout : ms;
}

uint16_t Clamp(uint16_t value, uint16_t low, uint16_t high) {
  return std::clamp(value, low, high);
}

std::string DevicePath(int index) {
  std::lock_guard guard(tableLock);
  if (!devicePaths[index].empty()) return devicePaths[index];
  return "/dev/ttyS" + std::to_string(index);
}

// The byte the reader thread is delivering to the user routine: what SCPeekLastChar gives
// there, even when the caller's thread emptied the buffer or newer bytes pushed it out.
thread_local generic_port* deliveringPort = nullptr;
thread_local uint8_t deliveringByte = 0;

void DeliverByte(generic_port* port, uint8_t byte) {
  deliveringPort = port;
  deliveringByte = byte;
  port->userRoutine.load()(port);
  deliveringPort = nullptr;
}

// One received byte: the echo of the own transmission, or a reply byte for the user routine.
void Receive(generic_port* port, uint8_t byte, uint8_t* echoLine, uint16_t* echoLineLength) {
  {
    std::lock_guard guard(port->lock);
    if (port->echoEnabled && port->echoCaptured < port->echoExpected) {
      port->echoBuffer[port->echoCaptured++] = byte;
      if (port->echoCaptured == port->echoExpected) {
        *echoLineLength = port->echoCaptured;
        std::memcpy(echoLine, port->echoBuffer.get(), port->echoCaptured);
      }
      return;
    }
    const uint32_t now = SCTickCount();
    port->lastByteTime = now;
    if (port->rxLength == port->rxCapacity) {
      port->rxStart = static_cast<uint16_t>((port->rxStart + 1) % port->rxCapacity);
      --port->rxLength;
    }
    port->rxBuffer[(port->rxStart + port->rxLength) % port->rxCapacity] = byte;
    ++port->rxLength;
    if (port->firstByteTime == 0) port->firstByteTime = now;
  }
  DeliverByte(port, byte);
}

}  // namespace

void SetDeviceOpenerForTesting(DeviceOpener opener) {
  deviceOpener = opener;
}

void ReaderThread(generic_port* port) {
  uint8_t chunk[kReadChunk];
  // At most the echo capacity; sized once with the port.
  std::unique_ptr<uint8_t[]> echoLine(new uint8_t[port->echoCapacity > 0 ? port->echoCapacity : 1]);
  while (port->stopRequest == 0) {
    uint32_t wanted = kEventCts | kEventTxEmpty;
    if (port->transmitting == 0) wanted |= kEventRxChar;
    const uint32_t events = port->device->WaitEvent(wanted);
    if (port->stopRequest != 0) break;
    if (events == 0) continue;
    if (events & kEventError) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kFailedWaitPauseMs));
      continue;
    }
    if (events & kEventTxEmpty) {
      port->txTime = SCTickCount();
      if (port->rtsControl) {
        SpinMicros(port->charDelayMicros);
        port->device->SetLine(kLineRts, false);
      }
      port->transmitting = 0;
      port->txDoneTime = SCTickCount();
    }
    if (events & kEventCts) port->ctsSeen = 1;
    if ((events & kEventRxChar) && port->transmitting == 0) {
      for (;;) {
        const int64_t n = port->device->Read(chunk, sizeof chunk);
        if (n < 0) {
          port->status = LineErrorToStatus(port->device->LineErrors());
          break;
        }
        if (n == 0) break;
        for (int64_t i = 0; i < n; ++i) {
          uint16_t echoLength = 0;
          Receive(port, chunk[i], echoLine.get(), &echoLength);
          if (echoLength > 0) TraceBytes(u"Rx Echo: ", echoLine.get(), echoLength);
        }
        // A transmission that started meanwhile keeps the rest for after it (its echo).
        if (port->stopRequest != 0 || port->transmitting != 0) break;
      }
    }
  }
}

int LineErrorToStatus(uint32_t errors) {
  const bool framing = errors & kErrorFraming;
  const bool overrun = errors & kErrorOverrun;
  const bool parity = errors & kErrorParity;
  if (framing && overrun && parity) return SC_STATUS_FRAMING_OVERRUN_PARITY;
  if (framing && overrun) return SC_STATUS_FRAMING_OVERRUN;
  if (framing && parity) return SC_STATUS_FRAMING_PARITY;
  if (framing) return SC_STATUS_FRAMING;
  if (overrun && parity) return SC_STATUS_OVERRUN_PARITY;
  if (overrun) return SC_STATUS_OVERRUN;
  if (parity) return SC_STATUS_PARITY;
  return SC_STATUS_NOT_SUPPORTED;
}

}  // namespace perimo::serial

using namespace perimo::serial;

extern "C" {

void SCSetPortDevice(int portIndex, const char* path) {
  if (portIndex < 0 || portIndex >= SC_MAX_PORTS) return;
  std::lock_guard guard(tableLock);
  devicePaths[portIndex] = path != nullptr ? path : "";
}

int SCIsPortFree(int portIndex) {
  if (portIndex < 0 || portIndex >= SC_MAX_PORTS) return 0;
  std::lock_guard guard(tableLock);
  return portTable[portIndex] == nullptr ? 1 : 0;
}

generic_port* SCPortOpen(intptr_t userValue, const SCPortConfig* config, int* status) {
  int ignored = 0;
  if (status == nullptr) status = &ignored;
  if (config == nullptr || config->portIndex < 0 || config->portIndex >= SC_MAX_PORTS) {
    *status = SC_STATUS_INVALID_PORT;
    return nullptr;
  }
  const int index = config->portIndex;
  // A rate below 10 would divide the transmit time-out by zero; termios has no rate 0.
  if (config->baudRate < 10) {
    *status = SC_STATUS_INVALID_BAUD;
    return nullptr;
  }
  {
    std::lock_guard guard(tableLock);
    if (portTable[index] != nullptr) {
      *status = SC_STATUS_PORT_IN_USE;
      return nullptr;
    }
  }
  std::unique_ptr<generic_port> port(new (std::nothrow) generic_port);
  if (!port) {
    *status = SC_STATUS_NO_MEMORY;
    return nullptr;
  }
  port->portIndex = index;
  port->startTimeout = ClampTimeout(config->startTimeout);
  port->rxCharTimeout = ClampTimeout(config->charTimeout);
  port->endTimeout = config->endTimeout;
  port->txTimeout = static_cast<uint16_t>(
      std::max<uint32_t>(2000 / static_cast<uint32_t>(config->baudRate / 10), kLeastTxTimeout));
  port->writeMsPerByte = std::max<uint32_t>(config->charTimeout, 60);

  const DeviceOpener opener = deviceOpener.load();
  int openStatus = 0;
  port->device = opener ? opener(index, DevicePath(index), &openStatus)
                        : OpenPosixDevice(index, DevicePath(index), &openStatus);
  if (!port->device) {
    *status = openStatus != 0 ? openStatus : SC_STATUS_INVALID_PORT;
    return nullptr;
  }
  port->device->Purge(true, true);
  if (config->parity < SC_PARITY_EVEN || config->parity > SC_PARITY_NONE ||
      (config->stopBits != 1 && config->stopBits != 2)) {
    *status = SC_STATUS_INVALID_PORT;
    return nullptr;
  }
  LineSettings line;
  line.baud = config->baudRate;
  line.dataBits = config->dataBits & 0xFF;
  line.parity = config->parity;
  line.stopBits = config->stopBits;
  if (const int refused = port->device->Configure(line); refused != 0) {
    *status = refused;
    return nullptr;
  }
  // No hardware handshake of the device's own: the library drives RTS and watches CTS.
  port->verifyCts = config->verifyCts != 0;
  port->ctsTimeout = config->ctsTimeout;
  port->rtsControl = config->rtsMode != SC_RTS_NONE;

  port->txCapacity = Clamp(config->txBufferSize, 512, 32767);
  port->rxCapacity = Clamp(config->rxBufferSize, 1024, 32767);
  port->txBuffer.reset(new (std::nothrow) uint8_t[port->txCapacity]);
  port->rxBuffer.reset(new (std::nothrow) uint8_t[port->rxCapacity]);
  port->echoEnabled = config->rtsMode == SC_RTS_CONTROL_ECHO;
  // The echo buffer takes the configured size as given, but never less than one byte.
  port->echoCapacity = config->txBufferSize;
  port->echoBuffer.reset(new (std::nothrow) uint8_t[std::max<uint16_t>(port->echoCapacity, 1)]);
  if (!port->txBuffer || !port->rxBuffer || !port->echoBuffer) {
    *status = SC_STATUS_NO_MEMORY;
    return nullptr;
  }
  port->userValue = userValue;
  port->charDelayMicros = CharDelayMicros(config->baudRate);

  {
    std::lock_guard guard(tableLock);
    if (portTable[index] != nullptr) {
      *status = SC_STATUS_PORT_IN_USE;
      return nullptr;
    }
    portTable[index] = port.get();
  }
  generic_port* raw = port.release();
  try {
    raw->reader = std::thread(ReaderThread, raw);
  } catch (...) {
    std::lock_guard guard(tableLock);
    portTable[index] = nullptr;
    delete raw;
    *status = SC_STATUS_NO_MEMORY;
    return nullptr;
  }
  if ((config->options & SC_OPTION_NO_DTR) == 0) raw->device->SetLine(kLineDtr, true);
  *status = 0;
  return raw;
}

void SCPortClose(generic_port* port) {
  if (port == nullptr) return;
  port->stopRequest = 1;
  port->device->Wake();
  if (port->reader.joinable()) port->reader.join();
  {
    std::lock_guard guard(tableLock);
    if (portTable[port->portIndex] == port) portTable[port->portIndex] = nullptr;
  }
  delete port;
}

void SCInstallUserRoutine(generic_port* port, SCUserRoutine routine) {
  if (port == nullptr) return;
  port->userRoutine = routine != nullptr ? routine : SCUserRoutineDefault;
}

void SCUserRoutineDefault(generic_port*) {}

void* SCAlloc(uint32_t count, uint32_t size) {
  return std::calloc(count, size);
}

void SCFree(void* memory) {
  std::free(memory);
}

void SCClearTxBuffer(generic_port* port) {
  if (port == nullptr) return;
  port->txLength = 0;
  port->device->Purge(false, true);
  {
    std::lock_guard guard(port->lock);
    port->echoExpected = 0;
    port->echoCaptured = 0;
  }
  port->transmitting = 0;
}

void SCClearRxBuffer(generic_port* port) {
  if (port == nullptr) return;
  {
    std::lock_guard guard(port->lock);
    port->rxLength = 0;
    port->rxStart = 0;
  }
  port->device->Purge(true, false);
}

int SCSpaceUsedInTxBuffer(generic_port* port) {
  return port ? port->txLength : 0;
}

int SCSpaceUsedInRxBuffer(generic_port* port) {
  if (port == nullptr) return 0;
  std::lock_guard guard(port->lock);
  return port->rxLength;
}

int SCSpaceFreeInTxBuffer(generic_port* port) {
  return port ? port->txCapacity - port->txLength : 0;
}

int SCSpaceFreeInRxBuffer(generic_port* port) {
  if (port == nullptr) return 0;
  std::lock_guard guard(port->lock);
  return port->rxCapacity - port->rxLength;
}

int SCIsTxEmpty(generic_port* port) {
  return port && port->txLength == 0 ? 1 : 0;
}

int SCIsRxEmpty(generic_port* port) {
  return port && SCSpaceUsedInRxBuffer(port) == 0 ? 1 : 0;
}

int SCIsTxFull(generic_port* port) {
  return port && port->txLength == port->txCapacity ? 1 : 0;
}

int SCIsRxFull(generic_port* port) {
  return port && SCSpaceFreeInRxBuffer(port) == 0 ? 1 : 0;
}

int SCPeekChar(generic_port* port, int position, char* out) {
  if (port == nullptr || out == nullptr) return 0;
  std::lock_guard guard(port->lock);
  if (position < 0 || position >= port->rxLength) {
    *out = 0;
    return 0;
  }
  *out = static_cast<char>(RxAt(port, static_cast<uint32_t>(position)));
  return 1;
}

int SCPeekLastChar(generic_port* port, char* out) {
  if (port == nullptr || out == nullptr) return 0;
  if (deliveringPort == port) {
    *out = static_cast<char>(deliveringByte);
    return 1;
  }
  std::lock_guard guard(port->lock);
  if (port->rxLength == 0) {
    *out = 0;
    return 0;
  }
  *out = static_cast<char>(RxAt(port, port->rxLength - 1u));
  return 1;
}

int SCReadChar(generic_port* port, char* out) {
  if (port == nullptr || out == nullptr) return 0;
  std::lock_guard guard(port->lock);
  if (port->rxLength == 0) {
    *out = 0;
    return 0;
  }
  *out = static_cast<char>(RxAt(port, 0));
  port->rxStart = static_cast<uint16_t>((port->rxStart + 1) % port->rxCapacity);
  --port->rxLength;
  return 1;
}

int SCReadBuffer(generic_port* port, char* bytes, int count) {
  if (port == nullptr || bytes == nullptr) return 0;
  int n = 0;
  while (n < count && SCReadChar(port, bytes + n)) ++n;
  return n;
}

int SCWriteChar(generic_port* port, char byte) {
  if (port == nullptr || port->txLength >= port->txCapacity) return 0;
  port->txBuffer[port->txLength++] = static_cast<uint8_t>(byte);
  return 1;
}

int SCWriteBuffer(generic_port* port, const char* bytes, int count) {
  if (port == nullptr || bytes == nullptr) return 0;
  int n = 0;
  while (n < count && SCWriteChar(port, bytes[n])) ++n;
  return n;
}

int SCSetDtr(generic_port* port, int on) {
  return port && port->device->SetLine(kLineDtr, (on & 0xFFFF) != 0) ? 1 : 0;
}

int SCSetRts(generic_port* port, int on) {
  return port && port->device->SetLine(kLineRts, (on & 0xFFFF) != 0) ? 1 : 0;
}

int SCBreak(generic_port* port, int milliseconds) {
  if (port == nullptr || port->status != 0) return 0;
  port->device->SetBreak(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(milliseconds, 0)));
  port->device->SetBreak(false);
  return 1;
}

int SCResetSerial(generic_port* port) {
  if (port == nullptr) return 0;
  port->device->Purge(true, true);
  return 1;
}

int SCGetStatus(generic_port* port) {
  return port ? port->status.load() : 0;
}

void SCSetStatus(generic_port* port, int status) {
  if (port) port->status = status;
}

void SCSetMessageComplete(generic_port* port, int complete) {
  if (port) port->messageComplete = complete;
}

int SCGetMessageComplete(generic_port* port) {
  return port ? port->messageComplete.load() : 0;
}

uint16_t SCGetRxCharTimeout(generic_port* port) {
  return port ? port->rxCharTimeout : 0;
}

intptr_t SCGetUserValue(generic_port* port) {
  return port ? port->userValue : 0;
}

int SCGetPortIndex(generic_port* port) {
  return port ? port->portIndex : -1;
}

int32_t* SCGetWorkArea(generic_port* port) {
  return port ? port->workArea : nullptr;
}

int SCIsTransmitting(generic_port* port) {
  return port ? port->transmitting.load() : 0;
}

}  // extern "C"
