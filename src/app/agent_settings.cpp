#include "app/agent_settings.h"

#include <algorithm>
#include <vector>

#include "platform/profile.h"
#include "security/link_cipher.h"
#include "transport/codec/frame_codec.h"

namespace perimo {
namespace {

constexpr int32_t kLowestPackSize = 255;

class SettingsFile {
 public:
  explicit SettingsFile(std::u16string_view path) : path_(path) {}
  int32_t Int(std::u16string_view section, std::u16string_view key, int32_t defaultValue) const {
    return static_cast<int32_t>(platform::GetPrivateProfileInt(section, key, defaultValue, path_));
  }
  std::u16string Text(std::u16string_view section, std::u16string_view key,
                      std::u16string_view defaultValue, uint32_t maxChars) const {
    std::u16string value;
    platform::GetPrivateProfileString(section, key, defaultValue, value, maxChars + 1, path_);
    return value;
  }
  bool Has(std::u16string_view section, std::u16string_view key) const {
    std::u16string value;
    platform::GetPrivateProfileString(section, key, u"\x01", value, 4, path_);
    return value != u"\x01";
  }

 private:
  std::u16string_view path_;
};

}  // namespace

AgentSettings ReadAgentSettings(std::u16string_view agentIniPath) {
  const SettingsFile ini(agentIniPath);
  AgentSettings s;
  s.device = ini.Int(u"Setup", u"Device", 1);
  s.serialPort = ini.Int(u"Setup", u"SerialPort", 0);
  s.serialBaud = ini.Int(u"Setup", u"SerialBaud", 19200);
  // The setup dialog stores the rate under "SerialBaudRate": a rate chosen there wins.
  if (ini.Has(u"Setup", u"SerialBaudRate")) {
    s.serialBaud = ini.Int(u"Setup", u"SerialBaudRate", s.serialBaud);
  }
  s.serialRts = ini.Int(u"Setup", u"SerialRTS", 0);
  s.serialCts = ini.Int(u"Setup", u"SerialCTS", 0);
  s.runLumoraOnStartup = ini.Int(u"Setup", u"RunLumoraOnStartup", 1);
  s.lockDownload = ini.Int(u"Setup", u"LockDownload", 0);
  s.appName = ini.Text(u"Setup", u"AppName", u"", 1023);
  s.sleepTime = ini.Int(u"Setup", u"SleepTime", 0);
  s.delay = ini.Int(u"Communication", u"Delay", 250);
  s.packSize = ini.Int(u"Communication", u"PackSize", 16384);
  s.doNotAskSecurity = ini.Int(u"Option", u"DoNotAskSecurity", 0);
  s.showWindow = ini.Int(u"Remote", u"ShowWindow", 5);
  s.port = ini.Text(u"Remote", u"Port", u"4322", 31);
  s.serverIp = ini.Text(u"ChangeIP", u"ServerIP", u"", 254);
  s.positionLeft = ini.Int(u"Options", u"Position-Left", -32000);
  s.positionTop = ini.Int(u"Options", u"Position-Top", -32000);
  s.internalKey = ini.Text(u"Protection", u"InternalKey", kDefaultInternalKey, 511);
  s.productName = ini.Text(u"OEM", u"ProductName", u"Remote Agent", 1023);
  s.productVersion = ini.Text(u"OEM", u"ProductVersion", u"7.12", 253);
  s.aboutText = ini.Text(u"OEM", u"AboutText", u"", 1023);
  s.useUserFolder = ini.Int(u"OEM", u"UseUserFolder", 1);
  s.registerWait = std::max(ini.Int(u"Setup", u"RegisterWait", 60), 0);
  return s;
}

int32_t LargestSendablePackSize() {
  // Worst case: every byte of the encrypted reply is a DLE and doubled.
  static const int32_t largest = [] {
    std::vector<uint8_t> dles(kCodecBufferSize, 0x10);
    int32_t n = kCodecBufferSize / 2;
    while (n > kLowestPackSize) {
      const int32_t encrypted = LinkCipher::EncryptedLength(5 + n);
      if (encrypted > 0 && EncodedLength(dles.data(), encrypted, true) <= kCodecBufferSize) break;
      --n;
    }
    return n;
  }();
  return largest;
}

int32_t UsablePackSize(int32_t packSize) {
  return std::clamp(packSize, kLowestPackSize, LargestSendablePackSize());
}

std::u16string ApplicationTitle(const AgentSettings& settings, std::u16string_view fallback) {
  if (settings.productName.empty()) return std::u16string(fallback);
  return settings.productName + u" (v" + settings.productVersion + u")";
}

bool WriteApplicationFile(std::u16string_view exeDir, std::u16string_view appName) {
  if (appName.empty()) return true;
  const std::u16string file = std::u16string(exeDir) + u"\\CEApp.INI";
  const std::u16string directory = std::u16string(exeDir) + u"\\" + std::u16string(appName) + u"\\";
  const std::u16string configuration = directory + std::u16string(appName) + u".app";
  const bool a = platform::WritePrivateProfileString(u"Application", u"Directory", directory, file);
  const bool b =
      platform::WritePrivateProfileString(u"Application", u"Configuration", configuration, file);
  return a && b;
}

}  // namespace perimo
