#pragma once
// A serial device in memory for the library's tests: bytes injected as if they came down
// the line, every write and modem-line change recorded in order, CTS set by the test, an
// optional echo of each write (a two-wire line) and writes that fail or never finish.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "transport/serial/serial_device.h"

namespace perimo::serial::testing {

class FakeSerialDevice : public SerialDevice {
 public:
  // The device the library opened last (owned by the library until its port closes).
  static FakeSerialDevice* last;
  // Installs the fake as every port's device; refuse rejects Configure for that baud.
  static void Install(int32_t refusedBaud = -1);
  static void Uninstall();

  // Test side.
  void Inject(const std::vector<uint8_t>& bytes);
  void SetCts(bool on, bool signalChange = false);
  // "RTS 1", "DTR 1", "write 02 06 10 03 06", "break 1" in the order they happened.
  std::vector<std::string> Events();
  void set_echo(bool on) {
    std::lock_guard g(mutex_);
    echo_ = on;
  }
  void set_failWrites(bool on) {
    std::lock_guard g(mutex_);
    failWrites_ = on;
  }
  // Writes succeed but the transmitter never reports empty.
  void set_holdTxEmpty(bool on) {
    std::lock_guard g(mutex_);
    holdTxEmpty_ = on;
  }
  LineSettings settings() {
    std::lock_guard g(mutex_);
    return settings_;
  }

  // Device side.
  int Configure(const LineSettings& settings) override;
  void Purge(bool input, bool output) override;
  uint32_t WaitEvent(uint32_t wanted) override;
  void Wake() override;
  int64_t Read(uint8_t* buffer, size_t count) override;
  uint32_t LineErrors() override { return 0; }
  bool Write(const uint8_t* bytes, size_t count, uint32_t timeoutMs) override;
  bool SetLine(ModemLine line, bool on) override;
  uint32_t ModemLines() override;
  bool SetBreak(bool on) override;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint8_t> input_;
  std::vector<std::string> events_;
  LineSettings settings_;
  bool cts_ = false;
  bool ctsChanged_ = false;
  bool txEmpty_ = false;
  bool woken_ = false;
  bool echo_ = false;
  bool failWrites_ = false;
  bool holdTxEmpty_ = false;
};

}  // namespace perimo::serial::testing
