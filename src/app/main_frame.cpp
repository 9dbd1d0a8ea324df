#include "app/main_frame.h"

#include <sys/eventfd.h>
#include <unistd.h>
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
                                 [&app](std::u16string_view text) { app.MessageBox(text); }}),
      serial_(
          app.agent(),
          SerialLinkHooks{// The reader thread only writes to an eventfd; the loop does the rest.
                          [this] {
                            const uint64_t one = 1;
                            [[maybe_unused]] ssize_t n = ::write(serialWake_, &one, sizeof one);
                          },
                          [this](std::u16string_view text) {
                            if (showConnectionStatus) showConnectionStatus(text);
                          },
                          [&app](std::u16string_view text) { app.MessageBox(text); },
                          [this] { tcp_.SetFramedMode(false); }}) {
  fastTimer_.setInterval(kFastTimerMs);
  slowTimer_.setInterval(kSlowTimerMs);
  connect(&fastTimer_, &QTimer::timeout, this, &CMainFrame::OnTimer);
  connect(&slowTimer_, &QTimer::timeout, this, &CMainFrame::OnTimer);
  serialWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (serialWake_ >= 0) {
    serialNotifier_ = new QSocketNotifier(serialWake_, QSocketNotifier::Read, this);
    connect(serialNotifier_, &QSocketNotifier::activated, this, [this] {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(serialWake_, &count, sizeof count);
      serial_.RunQueued();
    });
  }
}

CMainFrame::~CMainFrame() {
  fastTimer_.stop();
  slowTimer_.stop();
  CloseTransport();
  endpoint_.Close();
  delete serialNotifier_;
  if (serialWake_ >= 0) ::close(serialWake_);
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
  // A changed connection type leaves nothing of the other transport open.
  const int32_t device = app_.agent().settings.device;
  if (device != 0) serial_.Close();
  if (device != 1) tcp_.CloseListener();
  switch (device) {
    case 0:
      serial_.Open();
      break;
    case 1:
      tcp_.OpenListener();
      break;
    default:
      break;  // infrared: no transport
  }
}

void CMainFrame::CloseTransport() {
  serial_.Close();
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
