// Received TCP chunks under the secure link: whatever the bytes, DecryptFrame stays inside
// the chunk and reports a length no larger than it; what EncryptFrame makes of the same bytes
// decrypts back to them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "security/link_cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const perimo::LinkCipher cipher(u"01/02/2026 03:04:05 678");
  if (size > 1 << 20) return 0;
  const int32_t length = static_cast<int32_t>(size);

  // Exactly the chunk's bytes on the heap, so a read or write past them is caught.
  std::vector<uint8_t> chunk(data, data + size);
  const int32_t plain = cipher.DecryptFrame(chunk.data(), length);
  if (plain < 0 || plain > length) std::abort();

  const int32_t needed = perimo::LinkCipher::EncryptedLength(length);
  std::vector<uint8_t> sealed(static_cast<size_t>(needed));
  if (cipher.EncryptFrame(data, length, sealed.data(), needed) != needed) std::abort();
  const int32_t opened = cipher.DecryptFrame(sealed.data(), needed);
  if (opened != length) std::abort();
  if (size > 0 && std::memcmp(sealed.data(), data, size) != 0) std::abort();
  return 0;
}
