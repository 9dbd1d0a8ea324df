#include "transport/serial/fake_serial_device.h"

#include <cstdio>

#include "transport/serial/sc_serial.h"

namespace perimo::serial::testing {
namespace {

int32_t refused = -1;

std::unique_ptr<SerialDevice> OpenFake(int, const std::string&, int* status) {
  auto device = std::make_unique<FakeSerialDevice>();
  FakeSerialDevice::last = device.get();
  *status = 0;
  return device;
}

}  // namespace

FakeSerialDevice* FakeSerialDevice::last = nullptr;

void FakeSerialDevice::Install(int32_t refusedBaud) {
  refused = refusedBaud;
  last = nullptr;
  SetDeviceOpenerForTesting(OpenFake);
}

void FakeSerialDevice::Uninstall() {
  SetDeviceOpenerForTesting(nullptr);
  last = nullptr;
}

void FakeSerialDevice::Inject(const std::vector<uint8_t>& bytes) {
  std::lock_guard g(mutex_);
  input_.insert(input_.end(), bytes.begin(), bytes.end());
  changed_.notify_all();
}

void FakeSerialDevice::SetCts(bool on, bool signalChange) {
  std::lock_guard g(mutex_);
  cts_ = on;
  if (signalChange) ctsChanged_ = true;
  changed_.notify_all();
}

std::vector<std::string> FakeSerialDevice::Events() {
  std::lock_guard g(mutex_);
  return events_;
}

int FakeSerialDevice::Configure(const LineSettings& settings) {
  std::lock_guard g(mutex_);
  if (settings.baud == refused) return SC_STATUS_INVALID_BAUD;
  if (settings.parity < 0 || settings.parity > 2) return SC_STATUS_INVALID_PORT;
  if (settings.stopBits != 1 && settings.stopBits != 2) return SC_STATUS_INVALID_PORT;
  settings_ = settings;
  return 0;
}

void FakeSerialDevice::Purge(bool input, bool) {
  std::lock_guard g(mutex_);
  if (input) input_.clear();
}

uint32_t FakeSerialDevice::WaitEvent(uint32_t wanted) {
  std::unique_lock g(mutex_);
  for (;;) {
    if ((wanted & kEventTxEmpty) && txEmpty_) {
      txEmpty_ = false;
      return kEventTxEmpty;
    }
    if ((wanted & kEventCts) && ctsChanged_) {
      ctsChanged_ = false;
      return kEventCts;
    }
    if ((wanted & kEventRxChar) && !input_.empty()) return kEventRxChar;
    if (woken_) {
      woken_ = false;
      return 0;
    }
    changed_.wait(g);
  }
}

void FakeSerialDevice::Wake() {
  std::lock_guard g(mutex_);
  woken_ = true;
  changed_.notify_all();
}

int64_t FakeSerialDevice::Read(uint8_t* buffer, size_t count) {
  std::lock_guard g(mutex_);
  size_t n = 0;
  while (n < count && !input_.empty()) {
    buffer[n++] = input_.front();
    input_.pop_front();
  }
  return static_cast<int64_t>(n);
}

bool FakeSerialDevice::Write(const uint8_t* bytes, size_t count, uint32_t) {
  std::lock_guard g(mutex_);
  if (failWrites_) {
    events_.push_back("write failed");
    return false;
  }
  std::string text = "write";
  for (size_t i = 0; i < count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
    text += hex;
  }
  events_.push_back(text);
  if (echo_) input_.insert(input_.end(), bytes, bytes + count);
  if (!holdTxEmpty_) txEmpty_ = true;
  changed_.notify_all();
  return true;
}

bool FakeSerialDevice::SetLine(ModemLine line, bool on) {
  std::lock_guard g(mutex_);
  events_.push_back(std::string(line == kLineDtr ? "DTR " : "RTS ") + (on ? "1" : "0"));
  return true;
}

uint32_t FakeSerialDevice::ModemLines() {
  std::lock_guard g(mutex_);
  return cts_ ? static_cast<uint32_t>(kLineCts) : 0u;
}

bool FakeSerialDevice::SetBreak(bool on) {
  std::lock_guard g(mutex_);
  events_.push_back(on ? "break 1" : "break 0");
  return true;
}

}  // namespace perimo::serial::testing
