#include "workstation/replies.h"

#include <cstdlib>

#include "workstation/text.h"

namespace perimo::workstation {

std::string ReadReplyText(const Bytes& reply, size_t& offset, bool wide) {
  std::u16string text;
  if (wide) {
    while (offset + 1 < reply.size()) {
      const char16_t c = static_cast<char16_t>(reply[offset] | reply[offset + 1] << 8);
      offset += 2;
      if (c == 0) return ToUtf8(text);
      text.push_back(c);
    }
    offset = reply.size();
  } else {
    while (offset < reply.size()) {
      const uint8_t b = reply[offset++];
      if (b == 0) return ToUtf8(text);
      text.push_back(b);
    }
  }
  return ToUtf8(text);
}

std::vector<std::string> ZeroFields(const Bytes& reply, size_t from) {
  std::vector<std::string> fields;
  std::string current;
  for (size_t i = from; i < reply.size(); ++i) {
    if (reply[i] == 0) {
      fields.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(reply[i]));
    }
  }
  if (!current.empty()) fields.push_back(current);
  return fields;
}

bool ParsePage(const Bytes& reply, PageForm form, bool wide, std::vector<ListEntry>& out,
               bool& last) {
  last = reply.size() == 2 && reply[1] == 0;
  if (last) return true;
  size_t at = 1;
  while (at < reply.size()) {
    ListEntry entry;
    entry.name = ReadReplyText(reply, at, wide);
    if (form == PageForm::kNameMark) {
      const size_t lf = entry.name.rfind('\n');
      if (lf != std::string::npos) {
        entry.hasSubdirectories = entry.name.substr(lf + 1) == "1";
        entry.name.resize(lf);
      }
    } else if (form == PageForm::kNameTime) {
      if (at + 9 > reply.size()) return false;
      entry.fileTime = static_cast<uint64_t>(ReadU32(reply, at)) |
                       static_cast<uint64_t>(ReadU32(reply, at + 4)) << 32;
      at += 9;
    }
    out.push_back(std::move(entry));
  }
  return true;
}

void ParseOsReply(const Bytes& reply, SystemInfo& info) {
  const auto os = ZeroFields(reply, 1);
  if (os.size() >= 4) info.osName = os[3];
  info.administrator = os.size() >= 5 && os[4] == "1";
}

void ParseProductReply(const Bytes& reply, SystemInfo& info) {
  const auto product = ZeroFields(reply, 1);
  auto field = [&](size_t i) { return i < product.size() ? product[i] : std::string(); };
  info.product = field(0);
  info.agentVersion = field(1);
  info.extension = field(2);
  info.freeMemoryKiB = field(3);
  info.delay = field(4);
  const std::string pack = field(5);
  char* end = nullptr;
  const long value = std::strtol(pack.c_str(), &end, 10);
  if (value > 0 && value <= 0x7FFFFFFF) info.packSize = static_cast<uint32_t>(value);
}

DigestReply ParseDigestReply(const Bytes& reply, Digest& digest) {
  if (reply.size() == 21 && reply[0] == 0x06) {
    std::copy(reply.begin() + 1, reply.end(), digest.begin());
    return DigestReply::kPresent;
  }
  if (reply.size() >= 2 && reply[0] == 0x15 && reply[1] == 0x01) return DigestReply::kMissing;
  return DigestReply::kOther;
}

}  // namespace perimo::workstation
