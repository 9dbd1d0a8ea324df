#include "transport/seriallink/hand_ints.h"

#include <atomic>

#include "platform/tick.h"

namespace perimo {
namespace {

SerialFrameDecoder decoder;
std::atomic<SerialFrameSink> frameSink{nullptr};

}  // namespace

void SetSerialFrameSink(SerialFrameSink sink) {
  frameSink = sink;
}

void ResetHandInts() {
  decoder.Reset();
}

const SerialFrameDecoder& HandIntsDecoder() {
  return decoder;
}

}  // namespace perimo

extern "C" void HandInts(generic_port* port) {
  using perimo::SerialFrameDecoder;
  char byte = 0;
  if (!SCPeekLastChar(port, &byte)) return;
  bool gapReset = false;
  const auto result =
      perimo::decoder.Feed(static_cast<uint8_t>(byte), perimo::platform::GetTickCount(),
                           SCGetRxCharTimeout(port), &gapReset);
  if (gapReset) SCSetStatus(port, 0);
  if (int32_t* work = SCGetWorkArea(port)) work[0] = perimo::decoder.state();
  const perimo::SerialFrameSink sink = perimo::frameSink.load();
  if (sink == nullptr) return;
  if (result == SerialFrameDecoder::kFrame) {
    sink(port, perimo::decoder.frame(), perimo::decoder.length());
  } else if (result == SerialFrameDecoder::kOversize) {
    sink(port, nullptr, -1);
  }
}
