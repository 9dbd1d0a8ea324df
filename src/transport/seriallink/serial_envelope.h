#pragma once
// The serial line's frame, in both directions: STX, the frame bytes with every DLE sent twice,
// DLE ETX, then the XOR of the frame bytes (not doubled; 0 for an empty frame).
#include <cstdint>

namespace perimo {

constexpr uint8_t kSerialStx = 0x02;
constexpr uint8_t kSerialEtx = 0x03;
constexpr uint8_t kSerialDle = 0x10;

// The serial library's transmit and receive buffers, and the decoder's frame buffer: a line
// frame the agent sends, and a frame body it receives, hold at most this many bytes.
constexpr int32_t kSerialLineCapacity = 2048;
// Reply data that fits a line frame whatever its bytes (every one a DLE).
constexpr int32_t kSerialSafeReplyLength = (kSerialLineCapacity - 4) / 2;

// Bytes the line frame of data takes.
int32_t SerialFrameLength(const uint8_t* data, int32_t length);
// Writes the line frame of data into out; its length, or -1 (nothing written) when it would
// not fit in capacity bytes.
int32_t EncodeSerialFrame(const uint8_t* data, int32_t length, uint8_t* out, int32_t capacity);

}  // namespace perimo
