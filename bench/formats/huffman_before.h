#pragma once
// The adaptive Huffman coder before its speed-up, for timing the current one against.
#include <cstddef>
#include <cstdint>

namespace perimo::bench {

// Decodes up to count bytes of a bare bit stream (no header) into out; returns how many.
size_t DecodeHuffmanBefore(const uint8_t* stream, size_t size, uint8_t* out, size_t count);
// Writes the bit stream of data (no header) to fd; false when a write failed.
bool EncodeHuffmanBefore(const uint8_t* data, size_t count, int fd);

}  // namespace perimo::bench
