#pragma once
// The hidden main frame: owns the transport, the two timers that poll it, and the agent's
// window endpoint "PerimoClass" (a second start asks it to come to the front; WM_CLOSE there
// ends the agent).
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/window_endpoint.h"
#include "transport/seriallink/serial_link.h"
#include "transport/tcp/tcp_transport.h"

class QSocketNotifier;

namespace perimo {

class CDarrowApp;

constexpr int kFastTimerMs = 20;
constexpr int kSlowTimerMs = 2000;
inline constexpr char16_t kMainWindowClass[] = u"PerimoClass";
inline constexpr char16_t kEmbeddedWindowClass[] = u"WCE_PerimoClass";

class CMainFrame : public QObject {
  Q_OBJECT

 public:
  explicit CMainFrame(CDarrowApp& app);
  ~CMainFrame() override;

  // The creation handler: connection status, server address check, timers, transport.
  bool Create();

  TcpTransport& tcp() { return tcp_; }
  SerialLink& serial() { return serial_; }
  bool connected() const { return tcp_.connected() || serial_.connected(); }

  // Reopens the transport chosen by `device` (after the setup dialog changed it).
  void OpenTransport();
  void CloseTransport();

  // Set by the status window when it exists.
  std::function<void(std::u16string_view)> showConnectionStatus;
  std::function<void()> activateStatusWindow;
  std::function<void()> onTimerTick;  // e.g. the address line retry

 private:
  void OnTimer();
  void OnWindowRequest();

  CDarrowApp& app_;
  TcpTransport tcp_;
  // Frames from the serial reader thread: it wakes the loop through this eventfd.
  int serialWake_ = -1;
  QSocketNotifier* serialNotifier_ = nullptr;
  SerialLink serial_;
  QTimer fastTimer_;
  QTimer slowTimer_;
  platform::WindowEndpoint endpoint_;
  QSocketNotifier* endpointNotifier_ = nullptr;
};

}  // namespace perimo
