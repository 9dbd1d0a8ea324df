// Fuzzes the LZSS decoder: see formats_decode_fuzz.h for the input layout.
#include "formats_decode_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return perimo::fuzz::FuzzDecoder(perimo::kLzss, data, size);
}
