#include "app/main_frame.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "app/darrow_app.h"
#include "protocol/status_text.h"
#include "transport/tcp/server_address_check.h"

namespace perimo {

CMainFrame::CMainFrame(CDarrowApp& app)
    : app_(app),
      tcp_(app.agent(), TcpHooks{[this](std::u16string_view text) {
                                   if (showConnectionStatus) showConnectionStatus(text);
                                 },
                                 [&app](std::u16string_view text) { app.MessageBox(text); }}) {
  fastTimer_.setInterval(kFastTimerMs);
  slowTimer_.setInterval(kSlowTimerMs);
  connect(&fastTimer_, &QTimer::timeout, this, &CMainFrame::OnTimer);
  connect(&slowTimer_, &QTimer::timeout, this, &CMainFrame::OnTimer);
}

CMainFrame::~CMainFrame() {
  fastTimer_.stop();
  slowTimer_.stop();
  CloseTransport();
  endpoint_.Close();
}

bool CMainFrame::Create() {
  // The frame's window: found by class by a second start and by other programs.
  if (endpoint_.Open(platform::WindowKey::kClass, kMainWindowClass)) {
    endpointNotifier_ = new QSocketNotifier(endpoint_.descriptor(), QSocketNotifier::Read, this);
    connect(endpointNotifier_, &QSocketNotifier::activated, this, &CMainFrame::OnWindowRequest);
  }
  if (showConnectionStatus) showConnectionStatus(StatusText(kTextNotConnected));
  RunServerAddressCheck(app_.agent());
  fastTimer_.start();
  slowTimer_.start();
  OpenTransport();
  return true;
}

void CMainFrame::OpenTransport() {
  switch (app_.agent().settings.device) {
    case 0:
      // The serial link opens here (OpenSerialLink) once it exists.
      break;
    case 1:
      tcp_.OpenListener();
      break;
    default:
      break;  // infrared: no transport
  }
}

void CMainFrame::CloseTransport() {
  // The serial link closes here (CloseSerialLink) once it exists.
  tcp_.CloseListener();
}

void CMainFrame::OnTimer() {
  tcp_.PollClients();
  if (onTimerTick) onTimerTick();
}

void CMainFrame::OnWindowRequest() {
  endpoint_.ServeOne([this](const platform::WindowMessage& m) -> int32_t {
    if (m.message == platform::kWmActivate) {
      if (activateStatusWindow) activateStatusWindow();
    } else if (m.message == platform::kWmClose) {
      // Ends through the normal exit, after this request is answered.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
    return 0;
  });
}

}  // namespace perimo
