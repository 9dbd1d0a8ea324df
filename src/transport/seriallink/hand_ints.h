#pragma once
// HandInts: the agent's per-byte routine on the serial library's reader thread. It feeds the
// newest received byte to the link's frame decoder and hands each frame whose check byte
// matches to the installed sink, still on the reader thread.
#include <cstdint>

#include "transport/serial/sc_serial.h"
#include "transport/seriallink/serial_frame_decoder.h"

extern "C" void HandInts(generic_port* port);

namespace perimo {

// Receives a complete frame; frame is valid only during the call.
using SerialFrameSink = void (*)(generic_port* port, const uint8_t* frame, int32_t length);
// Also the sink of dropped oversize frames (length -1), so that they can be reported.
void SetSerialFrameSink(SerialFrameSink sink);
// Back to idle with nothing held (the link opens or closes).
void ResetHandInts();
// The decoder HandInts uses (one: the agent has one serial link).
const SerialFrameDecoder& HandIntsDecoder();

}  // namespace perimo
