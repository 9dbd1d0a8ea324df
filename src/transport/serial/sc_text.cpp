// Status texts, the trace line writer, the host's hooks and the timing helpers.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "transport/serial/sc_port.h"

namespace perimo::serial {
namespace {

// Status 0, -1 ... -32 in order.
constexpr const char16_t* kStatusTexts[] = {
    u"OK",
    u"Invalid serial port",
    u"Invalid baud rate",
    u"Invalid number of bits",
    u"Invalid number of stop bits",
    u"Invalid parity",
    u"Invalid irq",
    u"Serial port already in use",
    u"Invalid buffer size",
    u"Memory not enough",
    u"Tx buffer empty",
    u"Tx buffer full",
    u"Rx buffer empty",
    u"Rx buffer full",
    u"Timeout waiting CTS",
    u"Timeout waiting start a message",
    u"Timeout waiting a message to finish",
    u"Timeout between rx char",
    u"Timeout between tx char",
    u"No carrier detected",
    u"No DSR detected",
    u"Could not find a 8250 in address",
    u"Can not send tx message",
    u"User abort",
    u"Function not supported",
    u"Overrun",
    u"Parity",
    u"Overrun and parity",
    u"Framing",
    u"Framing and overrun",
    u"Framing and parity",
    u"Framing, overrun and parity",
    u"Timeout waiting a tx message to finish",
};

// Microseconds one character needs on the line, with margin, per rate.
struct CharTime {
  int32_t baud;
  uint32_t micros;
};
constexpr CharTime kCharTimes[] = {
    {110, 76060}, {300, 29999}, {600, 16666},  {1200, 9999}, {2400, 4999},
    {4800, 2499}, {9600, 1249}, {14400, 832},  {19200, 624}, {38400, 312},
    {56000, 213}, {57600, 207}, {115200, 103}, {128000, 93}, {256000, 46},
};

// The most bytes a dump line shows.
constexpr uint32_t kDumpBytes = 84;

std::atomic<void (*)(const char16_t*)> traceWriter{nullptr};
std::atomic<int (*)(int, char16_t*, int)> textSource{nullptr};
std::atomic<int (*)()> messagePump{nullptr};
std::atomic<uint32_t (*)()> tickSource{nullptr};

void Copy(std::u16string_view text, char16_t* buffer, int capacity) {
  const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
}

}  // namespace

void TraceBytes(const char16_t* prefix, const uint8_t* bytes, uint32_t count) {
  if (traceWriter.load() == nullptr) return;
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  char16_t line[16 + 3 * kDumpBytes + 1];
  size_t at = 0;
  for (const char16_t* p = prefix; *p != 0 && at < 16; ++p) line[at++] = *p;
  for (uint32_t i = 0; i < count && i < kDumpBytes; ++i) {
    line[at++] = kHex[bytes[i] >> 4];
    line[at++] = kHex[bytes[i] & 0xF];
    line[at++] = u' ';
  }
  line[at] = 0;
  SCTrace(line);
}

uint32_t CharDelayMicros(int32_t baud) {
  for (const CharTime& c : kCharTimes) {
    if (c.baud == baud) return c.micros;
  }
  return 0;
}

void SpinMicros(uint32_t micros) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(micros);
  while (std::chrono::steady_clock::now() < end) {
  }
}

}  // namespace perimo::serial

using namespace perimo::serial;

extern "C" {

void SCTrace(const char16_t* text) {
  auto writer = traceWriter.load();
  if (writer != nullptr && text != nullptr && *text != 0) writer(text);
}

void SCFormatErrorMessage(int code, char16_t* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return;
  if (auto source = textSource.load(); source != nullptr && source(code, buffer, capacity)) {
    buffer[capacity - 1] = 0;
    return;
  }
  if (code <= 0 && code >= SC_STATUS_TX_MESSAGE_TIMEOUT) {
    Copy(kStatusTexts[-code], buffer, capacity);
    return;
  }
  char ascii[32];
  std::snprintf(ascii, sizeof ascii, "Status: %d", code);
  std::u16string text(ascii, ascii + std::char_traits<char>::length(ascii));
  Copy(text, buffer, capacity);
}

void SCWindowsExecute(void) {
  if (auto pump = messagePump.load(); pump != nullptr && pump() != 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void SCSetYieldTx(void) {}
void SCSetYieldRx(void) {}
void SCCapture(void) {}
void SCRelease(void) {}

void SCSetTraceWriter(void (*writer)(const char16_t* text)) {
  traceWriter = writer;
}

void SCSetTextSource(int (*source)(int code, char16_t* buffer, int capacity)) {
  textSource = source;
}

void SCSetMessagePump(int (*pump)(void)) {
  messagePump = pump;
}

void SCSetTickSource(uint32_t (*source)(void)) {
  tickSource = source;
}

uint32_t SCTickCount(void) {
  if (auto source = tickSource.load(); source != nullptr) return source();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  return static_cast<uint32_t>(ms);
}

}  // extern "C"
