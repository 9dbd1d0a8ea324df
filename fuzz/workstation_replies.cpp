// The workstation's readers of agent replies: the first byte picks the reader and the string
// width, the rest is the reply. Serial line bytes also go through the frame reader in two
// pieces, and every frame it gives must survive an envelope round trip.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "workstation/replies.h"
#include "workstation/serial_frames.h"
#include "workstation/session.h"

using namespace perimo::workstation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const bool wide = selector & 0x80;
  const Bytes reply(data + 1, data + size);
  switch (selector & 0x07) {
    case 0:
    case 1:
    case 2: {
      std::vector<ListEntry> entries;
      bool last = false;
      ParsePage(reply, static_cast<PageForm>(selector & 0x03), wide, entries, last);
      break;
    }
    case 3: {
      SystemInfo info;
      ParseOsReply(reply, info);
      ParseProductReply(reply, info);
      size_t at = 0;
      while (at < reply.size()) ReadReplyText(reply, at, wide);
      break;
    }
    case 4: {
      Digest digest{};
      ParseDigestReply(reply, digest);
      NakText(reply);
      break;
    }
    default: {
      SerialFrameReader reader;
      std::vector<Bytes> frames;
      const size_t half = reply.size() / 2;
      reader.Feed(reply.data(), half, frames);
      reader.Feed(reply.data() + half, reply.size() - half, frames);
      for (const Bytes& frame : frames) {
        if (frame.size() > SerialFrameReader::kMaxFrame + 1) abort();
        const Bytes line = SerialEnvelope(frame);
        SerialFrameReader again;
        std::vector<Bytes> back;
        again.Feed(line.data(), line.size(), back);
        if (back.size() != 1 || back[0] != frame) abort();
      }
      break;
    }
  }
  return 0;
}
