#pragma once
// The connection setup: device (serial, TCP/IP; infrared is not offered), the serial port
// among those that can be opened, and the ways into the serial settings, the user list and
// the data protection library. Only OK stores the connection settings, in memory and in
// section "Setup" of the agent's settings file; the serial settings change in memory as soon
// as their own dialog ends with OK.
#include <functional>
#include <optional>

#include "protocol/agent_state.h"
#include "ui/data_protection.h"
#include "ui/message_box.h"
#include "ui/template_dialog.h"

namespace perimo {

struct SetupHooks {
  MessageBoxFn ask;
  std::function<void(std::u16string_view)> addStatusLine;
  // Can "COMn" be opened for reading and writing, unshared? Default: its device in section
  // "Serial" of the settings file (key "COMn", default /dev/ttyS<n-1>).
  std::function<bool(int port)> probePort;
  // The serial advanced settings: {baud, rts, cts} on OK. Default: the dialog, modal.
  std::function<std::optional<std::array<int32_t, 3>>(QWidget*, int32_t, int32_t, int32_t)>
      runSerial;
  // The user list, then the users file. Default: the dialog, modal, then SaveUsers.
  std::function<void(QWidget*)> runUserList;
  DataProtectionLibrary* dataProtection = nullptr;
};

class CDlgSetup : public TemplateDialog {
  Q_OBJECT

 public:
  CDlgSetup(AgentState& agent, SetupHooks hooks, QWidget* parent = nullptr);

  void OnDeviceChosen();
  void OnAdvanced();
  void OnUsers();
  void OnDataProtection();

 public slots:
  void accept() override;

 private:
  AgentState& agent_;
  SetupHooks hooks_;
};

// The default port probe.
bool ProbeSerialPort(const AgentState& agent, int port);

}  // namespace perimo
