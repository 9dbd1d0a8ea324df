#include "ui/status_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextCursor>

#include "protocol/dialog_resources.h"
#include "protocol/status_text.h"
#include "ui/about_dialog.h"
#include "ui/agent_icon.h"
#include "ui/connection_texts.h"

namespace perimo {
namespace {

constexpr uint32_t kStartButton = 110, kExitButton = 123, kSetupButton = 107;
constexpr uint32_t kConnectionStatus = 104, kLogView = 105, kConnectionType = 118, kIpLine = 145;
constexpr int32_t kNoPosition = -32000;
constexpr int kTipChars = 127;
constexpr uint32_t kIpRetryMs = 1000;

}  // namespace

CStatusDlg::CStatusDlg(AgentState& agent, StatusWindowHooks hooks, QWidget* parent)
    : TemplateDialog(kDialogStatus, parent), agent_(agent), hooks_(std::move(hooks)) {
  if (!hooks_.addresses) hooks_.addresses = MachineAddresses;
  if (!hooks_.trayAvailable) hooks_.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable;
  setWindowTitle(ToQString(agent_.title));
  if (auto* b = ControlAs<QPushButton>(kStartButton)) {
    connect(b, &QPushButton::clicked, this, [this] {
      if (hooks_.startRuntime) hooks_.startRuntime();
    });
  }
  if (auto* b = ControlAs<QPushButton>(kSetupButton)) {
    connect(b, &QPushButton::clicked, this, [this] {
      if (hooks_.runSetup) hooks_.runSetup();
    });
  }
  if (auto* b = ControlAs<QPushButton>(kExitButton)) {
    connect(b, &QPushButton::clicked, this, &QWidget::close);
  }
  setWindowIcon(AgentIcon());
  SetConnectionTypeLine();
  RefreshIpLine();
  ApplyStartPosition();
  CreateTrayIcon();
  if (!tray_) AddStatusLine(StatusText(kTextNoNotificationArea));
}

CStatusDlg::~CStatusDlg() {
  if (tray_) tray_->hide();
}

void CStatusDlg::CreateTrayIcon() {
  if (!hooks_.trayAvailable()) return;
  tray_ = new QSystemTrayIcon(AgentIcon(), this);
  tray_->setToolTip(ToQString(agent_.title).left(kTipChars));
  trayMenu_ = std::make_unique<QMenu>();
  QAction* about =
      trayMenu_->addAction(ToQString(MenuItemText(kMenuNotificationIcon, kCommandAbout)));
  trayMenu_->setDefaultAction(about);
  trayMenu_->addSeparator();
  QAction* exit =
      trayMenu_->addAction(ToQString(MenuItemText(kMenuNotificationIcon, kCommandExit)));
  connect(about, &QAction::triggered, this, &CStatusDlg::ShowAbout);
  connect(exit, &QAction::triggered, this, [this] {
    if (hooks_.exitAgent) hooks_.exitAgent();
  });
  tray_->setContextMenu(trayMenu_.get());
  connect(tray_, &QSystemTrayIcon::activated, this, &CStatusDlg::OnTrayActivated);
  tray_->show();
}

void CStatusDlg::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger) {
    BringToFront();
  } else if (reason == QSystemTrayIcon::DoubleClick) {
    ShowAbout();
  }
}

void CStatusDlg::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void CStatusDlg::ShowAbout() {
  if (hooks_.showAbout) {
    hooks_.showAbout();
    return;
  }
  CAboutDlg about(agent_.title, hooks_.exeFileName, agent_.settings.aboutText.substr(0, 1024),
                  this);
  about.exec();
}

void CStatusDlg::AddStatusLine(std::u16string_view text) {
  auto* view = ControlAs<QPlainTextEdit>(kLogView);
  if (!view) return;
  if (log_.size() > kLogViewLimit) {
    log_.clear();
    view->clear();
  }
  log_.append(text);
  log_.append(u"\r\r\n");
  // Lines always join at the end, wherever the person left the caret.
  QString shown = ToQString(text);
  shown.remove(QLatin1Char('\r'));
  QTextCursor cursor(view->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(shown + QLatin1Char('\n'));
  view->setTextCursor(cursor);
  view->ensureCursorVisible();
}

void CStatusDlg::SetConnectionStatus(std::u16string_view text) {
  if (auto* edit = ControlAs<QLineEdit>(kConnectionStatus)) edit->setText(ToQString(text));
}

void CStatusDlg::SetConnectionTypeLine() {
  const std::u16string text = ConnectionTypeText(agent_.settings);
  auto* label = ControlAs<QLabel>(kConnectionType);
  if (label && !text.empty()) label->setText(ToQString(text));
}

void CStatusDlg::RefreshIpLine() {
  auto* line = ControlAs<QLineEdit>(kIpLine);
  if (!line) return;
  if (agent_.settings.device == 0) {
    line->clear();
    line->hide();
    ipRetry_ = false;
    return;
  }
  const std::vector<std::string> addresses = hooks_.addresses();
  ipRetry_ = addresses.empty();
  line->setText(ToQString(IpLineText(addresses)));
  line->setCursorPosition(0);
  line->show();
}

void CStatusDlg::OnTimerTick(uint32_t nowMs) {
  if (firstTick_) {
    firstTick_ = false;
    lastIpTick_ = nowMs;
  }
  if (ipRetry_ && static_cast<uint32_t>(nowMs - lastIpTick_) >= kIpRetryMs) {
    RefreshIpLine();
    lastIpTick_ = nowMs;
  }
}

void CStatusDlg::ApplyStartPosition() {
  const int32_t left = agent_.settings.positionLeft;
  const int32_t top = agent_.settings.positionTop;
  if (left != kNoPosition || top != kNoPosition) move(left, top);
}

void CStatusDlg::HideOrMinimise() {
  if (tray_) {
    hide();
  } else {
    showMinimized();
  }
}

void CStatusDlg::accept() {
  HideOrMinimise();
}

void CStatusDlg::reject() {
  HideOrMinimise();
}

void CStatusDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  TemplateDialog::keyPressEvent(event);
}

void CStatusDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  const MessageBoxAnswer answer =
      hooks_.ask ? hooks_.ask(this, StatusText(kTextConfirmExit), MessageBoxKind::kYesNo,
                              MessageBoxIcon::kQuestion)
                 : MessageBoxAnswer::kNo;
  if (answer == MessageBoxAnswer::kYes && hooks_.exitAgent) hooks_.exitAgent();
}

}  // namespace perimo
