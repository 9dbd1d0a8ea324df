#pragma once
// The record of one open port and the library-wide state, shared by the library's sources.
// The reader thread and the caller's thread both touch a port: flags and times are atomic,
// the receive buffer and the echo capture are guarded by the port's lock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "transport/serial/sc_serial.h"
#include "transport/serial/serial_device.h"

struct generic_port {
  int32_t portIndex = 0;
  std::unique_ptr<perimo::serial::SerialDevice> device;
  std::thread reader;
  std::atomic<int32_t> stopRequest{0};
  intptr_t userValue = 0;
  std::atomic<int32_t> status{0};
  std::atomic<int32_t> messageComplete{0};
  int32_t workArea[SC_WORK_AREA_WORDS] = {};

  uint16_t startTimeout = 0;
  uint16_t endTimeout = 0;
  uint16_t rxCharTimeout = 0;
  uint16_t txTimeout = 0;
  uint32_t writeMsPerByte = 60;

  std::atomic<uint32_t> txDoneTime{0};
  std::atomic<uint32_t> firstByteTime{0};
  std::atomic<uint32_t> lastByteTime{0};
  std::atomic<uint32_t> txTime{0};
  std::atomic<int32_t> transmitting{0};
  std::atomic<int32_t> replyPending{0};

  // Written by the caller's thread only.
  std::unique_ptr<uint8_t[]> txBuffer;
  uint16_t txCapacity = 0;
  uint16_t txLength = 0;

  // A ring: rxStart is the oldest byte; when full, a new byte replaces the oldest.
  std::mutex lock;
  std::unique_ptr<uint8_t[]> rxBuffer;
  uint16_t rxCapacity = 0;
  uint16_t rxStart = 0;
  uint16_t rxLength = 0;

  // Echo of the own transmission (RTS mode 2), under lock.
  bool echoEnabled = false;
  uint16_t echoCaptured = 0;
  uint16_t echoExpected = 0;
  uint16_t echoCapacity = 0;
  std::unique_ptr<uint8_t[]> echoBuffer;

  // Handshake.
  bool rtsControl = false;
  bool verifyCts = false;
  std::atomic<int32_t> ctsSeen{0};
  uint32_t charDelayMicros = 0;
  uint16_t ctsTimeout = 0;

  std::atomic<SCUserRoutine> userRoutine{SCUserRoutineDefault};
};

namespace perimo::serial {

// The receive buffer: the byte at position from the oldest (caller holds port->lock).
inline uint8_t RxAt(const generic_port* port, uint32_t position) {
  return port->rxBuffer[(port->rxStart + position) % port->rxCapacity];
}

// "%02X " per byte, at most 84 bytes, after prefix; handed to SCTrace.
void TraceBytes(const char16_t* prefix, const uint8_t* bytes, uint32_t count);
// The receive buffer as an "Rx:" trace line.
void TraceReceived(generic_port* port);
void ReaderThread(generic_port* port);
// Character delay in microseconds for the baud rate: the time the last character needs to
// leave the line after the transmitter reports empty; 0 for rates outside the table.
uint32_t CharDelayMicros(int32_t baud);
// Busy-waits: a sleep's granularity is far coarser than a character time at high rates.
void SpinMicros(uint32_t micros);
int LineErrorToStatus(uint32_t errors);

}  // namespace perimo::serial
