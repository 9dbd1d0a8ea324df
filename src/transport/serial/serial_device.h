#pragma once
// How the serial library reaches a device: a termios port on Linux, a fake with modem lines
// in the tests. One reader thread waits on it while the caller's thread writes to it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace perimo::serial {

struct LineSettings {
  int32_t baud = 19200;
  int32_t dataBits = 8;
  int32_t stopBits = 1;
  int32_t parity = 2;  // 0 even, 1 odd, 2 none
};

enum ModemLine : uint32_t { kLineDtr = 1, kLineRts = 2, kLineCts = 4, kLineDsr = 8 };

enum DeviceEvent : uint32_t {
  kEventRxChar = 1,   // bytes are waiting
  kEventCts = 2,      // CTS changed
  kEventTxEmpty = 4,  // the last write has left the transmitter
  kEventError = 8,    // the wait itself failed (hang-up)
};

enum LineError : uint32_t { kErrorFraming = 1, kErrorOverrun = 2, kErrorParity = 4 };

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // 0, or the status code of a setting the device refuses.
  virtual int Configure(const LineSettings& settings) = 0;
  virtual void Purge(bool input, bool output) = 0;

  // Blocks until one of the wanted events (or an error) happens; 0 after Wake.
  virtual uint32_t WaitEvent(uint32_t wanted) = 0;
  // Ends the current or next WaitEvent with 0.
  virtual void Wake() = 0;

  // Up to count bytes that are waiting now: their number, 0 when none, -1 on failure (then
  // LineErrors tells why).
  virtual int64_t Read(uint8_t* buffer, size_t count) = 0;
  virtual uint32_t LineErrors() = 0;

  // Writes all bytes within timeoutMs and waits until they left; then signals kEventTxEmpty.
  virtual bool Write(const uint8_t* bytes, size_t count, uint32_t timeoutMs) = 0;

  virtual bool SetLine(ModemLine line, bool on) = 0;  // DTR or RTS
  virtual uint32_t ModemLines() = 0;                  // kLineCts | kLineDsr as present
  virtual bool SetBreak(bool on) = 0;
};

// Opens the device of a port index: 0 and the device, or a status code and null.
using DeviceOpener = std::unique_ptr<SerialDevice> (*)(int portIndex, const std::string& path,
                                                       int* status);
// Tests install a fake; null restores the termios device.
void SetDeviceOpenerForTesting(DeviceOpener opener);

std::unique_ptr<SerialDevice> OpenPosixDevice(int portIndex, const std::string& path, int* status);

}  // namespace perimo::serial
