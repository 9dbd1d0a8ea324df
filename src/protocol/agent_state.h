#pragma once
// Everything the command handlers share, owned once by the application object. Plain C++ so
// the protocol can be tested without an event loop.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "protocol/name_list.h"
#include "protocol/transfer_state.h"
#include "security/link_cipher.h"
#include "security/login_state.h"
#include "security/users.h"

namespace perimo {

// Read once at start-up from the agent's settings file.
struct AgentSettings {
  int32_t device = 1;  // 0 serial, 1 TCP/IP, 2 infrared
  int32_t serialPort = 0;
  int32_t serialBaud = 19200;
  int32_t serialRts = 0;
  int32_t serialCts = 0;
  int32_t runLumoraOnStartup = 1;
  int32_t lockDownload = 0;
  std::u16string appName;
  int32_t sleepTime = 0;
  int32_t delay = 250;
  int32_t packSize = 16384;
  int32_t doNotAskSecurity = 0;
  int32_t showWindow = 5;
  std::u16string port = u"4322";
  std::u16string serverIp;
  int32_t positionLeft = -32000;
  int32_t positionTop = -32000;
  std::u16string internalKey{kDefaultInternalKey};  // the pre-shared link key text
  std::u16string productName = u"Remote Agent";
  std::u16string productVersion = u"7.12";
  std::u16string aboutText;
  int32_t useUserFolder = 1;
  // How long component registration waits for a registration program to end, in seconds.
  int32_t registerWait = 60;
};

// All in wire form (Windows paths).
struct AgentPaths {
  std::u16string exeDir;  // no trailing backslash
  std::u16string exeBaseName;
  std::u16string agentIniPath;
  std::u16string usersFilePath;
  std::u16string outFilePath;
  std::u16string settingsDir;  // trailing backslash
  std::u16string projectsDir;
};

struct AgentState {
  AgentSettings settings;
  AgentPaths paths;
  std::u16string title;

  LoginState login;
  UserList users;
  LinkCipher cipher;
  bool wideStrings = false;

  // 55 × packSize bytes, allocated once at start-up.
  std::vector<uint8_t> blockBuffer;
  TransferState transfer;

  // The names the last listing collected, handed out page by page.
  NameList nameList;
  // Opened on first use by the registry commands.
  platform::RegistryStore registry;

  // Where status lines go (the log view, or standard output when headless).
  std::function<void(std::u16string_view)> statusSink;
  // The refusal pause; tests shorten it.
  std::function<void(uint32_t milliseconds)> pause;

  void AddStatusLine(std::u16string_view text) const {
    if (statusSink) statusSink(text);
  }
};

}  // namespace perimo
