// Request strings and wildcard patterns straight from the wire: the readers must stay inside
// the payload whatever it holds, and native names must survive UTF-8 round trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/find_files.h"
#include "platform/text.h"
#include "platform/wire_string.h"

using namespace perimo::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool wide = data[0] & 1;
  const std::span<const uint8_t> payload(data + 1, size - 1);
  const WireName name = ReadWireName(payload, wide, data[0] & 2);
  if (name.consumed > payload.size()) abort();
  const auto fields = ReadTabFields(payload, wide, 4);
  const auto zeroEnded = ReadTabFieldsZeroEnds(payload, wide, 5);
  if (fields.size() != 4 || zeroEnded.size() != 5) abort();

  const std::string_view bytes(reinterpret_cast<const char*>(payload.data()), payload.size());
  if (ToUtf8(FromUtf8(bytes)) != bytes) abort();
  if (ToLatin1(FromLatin1(bytes)) != bytes) abort();

  // The first field is the pattern, the second the name.
  if (fields[0].size() <= 64 && fields[1].size() <= 256) WildcardMatch(fields[0], fields[1]);
  return 0;
}
