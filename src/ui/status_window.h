#pragma once
// The status window: connection status and type, the machine's addresses, the log of status
// lines, and Start, Setup and Exit; with the notification icon that brings it back. Enter and
// Escape only hide it (minimise it when the desktop has no notification area); its close box
// and Exit ask before the agent ends.
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/agent_state.h"
#include "ui/machine_addresses.h"
#include "ui/message_box.h"
#include "ui/template_dialog.h"

class QMenu;

namespace perimo {

// The log view is emptied before a line once it holds more than this many characters.
constexpr size_t kLogViewLimit = 16383;

struct StatusWindowHooks {
  MessageBoxFn ask;
  std::function<void()> exitAgent;      // Yes to the exit question
  std::function<void()> startRuntime;   // "&Start"
  std::function<void()> runSetup;       // "S&etup": the setup dialog and the transport
  std::function<void()> showAbout;      // default: the About box, modal
  MachineAddressesFn addresses;         // default: MachineAddresses
  std::function<bool()> trayAvailable;  // default: the desktop's notification area
  std::u16string exeFileName;
};

class CStatusDlg : public TemplateDialog {
  Q_OBJECT

 public:
  CStatusDlg(AgentState& agent, StatusWindowHooks hooks, QWidget* parent = nullptr);
  ~CStatusDlg() override;

  void AddStatusLine(std::u16string_view text);
  // The log as the view holds it, each line followed by "\r\r\n".
  const std::u16string& logText() const { return log_; }

  void SetConnectionStatus(std::u16string_view text);
  void SetConnectionTypeLine();
  void RefreshIpLine();
  bool ipRetry() const { return ipRetry_; }
  // The agent's timer: rebuilds the IP line once a second while no address is known.
  void OnTimerTick(uint32_t nowMs);
  // "Options"/"Position-Left" and "Position-Top": moves the window when either is set.
  void ApplyStartPosition();

  // The window is reached through the notification icon, or minimised where there is none.
  void HideOrMinimise();
  void BringToFront();
  void ShowAbout();
  QSystemTrayIcon* trayIcon() const { return tray_; }
  QMenu* trayMenu() const { return trayMenu_.get(); }
  bool hasNotificationArea() const { return tray_ != nullptr; }
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);

 public slots:
  void accept() override;
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateTrayIcon();

  AgentState& agent_;
  StatusWindowHooks hooks_;
  std::u16string log_;
  bool ipRetry_ = false;
  bool firstTick_ = true;
  uint32_t lastIpTick_ = 0;
  QSystemTrayIcon* tray_ = nullptr;
  std::unique_ptr<QMenu> trayMenu_;
};

}  // namespace perimo
