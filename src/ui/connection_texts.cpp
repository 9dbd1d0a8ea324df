#include "ui/connection_texts.h"

#include "platform/text.h"
#include "protocol/status_text.h"

namespace perimo {

std::u16string ConnectionTypeText(const AgentSettings& settings) {
  switch (settings.device) {
    case 0:
      return StatusText(kTextDeviceSerial,
                        platform::Ascii(std::to_string(int64_t{settings.serialPort} + 1)));
    case 1:
      return StatusText(kTextDeviceNetwork);
    case 2:
      return StatusText(kTextDeviceInfrared);
    default:
      return {};
  }
}

std::u16string IpLineText(const std::vector<std::string>& addresses) {
  std::u16string text = StatusText(kTextIpLine);
  if (addresses.empty()) return text + StatusText(kTextIpNotSpecified);
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (i) text += u", ";
    text += platform::FromUtf8(addresses[i]);
  }
  return text;
}

bool TransportNeedsReopen(const AgentSettings& before, const AgentSettings& after) {
  if (before.device != after.device) return true;
  if (after.device != 0) return false;
  return before.serialPort != after.serialPort || before.serialBaud != after.serialBaud ||
         before.serialRts != after.serialRts || before.serialCts != after.serialCts;
}

}  // namespace perimo
