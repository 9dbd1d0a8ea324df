#include "transport/seriallink/serial_envelope.h"

namespace perimo {

int32_t SerialFrameLength(const uint8_t* data, int32_t length) {
  int32_t total = 4;  // STX, DLE ETX, check
  for (int32_t i = 0; i < length; ++i) total += data[i] == kSerialDle ? 2 : 1;
  return total;
}

int32_t EncodeSerialFrame(const uint8_t* data, int32_t length, uint8_t* out, int32_t capacity) {
  if (length < 0 || (length > 0 && data == nullptr)) return -1;
  if (SerialFrameLength(data, length) > capacity) return -1;
  int32_t at = 0;
  uint8_t check = 0;
  out[at++] = kSerialStx;
  for (int32_t i = 0; i < length; ++i) {
    const uint8_t b = data[i];
    check ^= b;
    out[at++] = b;
    if (b == kSerialDle) out[at++] = kSerialDle;
  }
  out[at++] = kSerialDle;
  out[at++] = kSerialEtx;
  out[at++] = check;
  return at;
}

}  // namespace perimo
