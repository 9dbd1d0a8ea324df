#include "ui/setup_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <chrono>
#include <thread>
#include "protocol/dialog_resources.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/status_text.h"
#include "security/users_file.h"
#include "ui/serial_dialog.h"
#include "ui/user_list_dialog.h"

namespace perimo {
namespace {

constexpr uint32_t kUsers = 100, kDataProtection = 104, kSerialRadio = 109, kPortList = 112,
                   kTcpRadio = 113, kInfraredRadio = 116, kRunOnStartup = 120, kAdvanced = 126,
                   kLockDownload = 146;
constexpr int kProbedPorts = 8;
constexpr uint32_t kMaxPathChars = 260;

std::u16string Decimal(int32_t v) {
  return platform::Ascii(std::to_string(v));
}

}  // namespace

bool ProbeSerialPort(const AgentState& agent, int port) {
  const std::u16string key = u"COM" + Decimal(port);
  const std::u16string device = platform::ReadProfileString(
      u"Serial", key, u"/dev/ttyS" + Decimal(port - 1), agent.paths.agentIniPath);
  const int fd =
      ::open(platform::ToUtf8(device).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Unshared: a port another program holds locked is not offered.
  const bool ours = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (ours && agent.settings.sleepTime > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(agent.settings.sleepTime));
  }
  ::close(fd);
  return ours;
}

CDlgSetup::CDlgSetup(AgentState& agent, SetupHooks hooks, QWidget* parent)
    : TemplateDialog(kDialogSetup, parent), agent_(agent), hooks_(std::move(hooks)) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!hooks_.probePort) {
    hooks_.probePort = [this](int port) { return ProbeSerialPort(agent_, port); };
  }
  const int32_t device = agent_.settings.device;
  ControlAs<QRadioButton>(kSerialRadio)->setChecked(device == 0);
  ControlAs<QRadioButton>(kTcpRadio)->setChecked(device == 1);
  ControlAs<QRadioButton>(kInfraredRadio)->setChecked(device == 2);

  auto* ports = ControlAs<QComboBox>(kPortList);
  const int configured = agent_.settings.serialPort + 1;
  for (int n = 1; n <= kProbedPorts; ++n) {
    // The configured port may be held by the agent's own serial link: never probed.
    if (n != configured && !hooks_.probePort(n)) continue;
    AddSorted(ports, QStringLiteral("COM%1").arg(n));
  }
  const int at = ports->findText(QStringLiteral("COM%1").arg(configured));
  ports->setCurrentIndex(at >= 0 ? at : (ports->count() > 0 ? 0 : -1));
  OnDeviceChosen();

  ControlAs<QCheckBox>(kRunOnStartup)->setChecked(agent_.settings.runLumoraOnStartup != 0);
  ControlAs<QCheckBox>(kLockDownload)->setChecked(agent_.settings.lockDownload != 0);
  ControlAs<QCheckBox>(kRunOnStartup)->hide();
  ControlAs<QCheckBox>(kLockDownload)->hide();

  for (uint32_t radio : {kSerialRadio, kTcpRadio, kInfraredRadio}) {
    connect(ControlAs<QRadioButton>(radio), &QRadioButton::toggled, this,
            &CDlgSetup::OnDeviceChosen);
  }
  connect(ControlAs<QPushButton>(kAdvanced), &QPushButton::clicked, this, &CDlgSetup::OnAdvanced);
  connect(ControlAs<QPushButton>(kUsers), &QPushButton::clicked, this, &CDlgSetup::OnUsers);
  connect(ControlAs<QPushButton>(kDataProtection), &QPushButton::clicked, this,
          &CDlgSetup::OnDataProtection);
  connect(ControlAs<QPushButton>(1), &QPushButton::clicked, this, &CDlgSetup::accept);
  connect(ControlAs<QPushButton>(2), &QPushButton::clicked, this, &QDialog::reject);
  QApplication::restoreOverrideCursor();
}

void CDlgSetup::OnDeviceChosen() {
  const bool serial = ControlAs<QRadioButton>(kSerialRadio)->isChecked();
  ControlAs<QPushButton>(kAdvanced)->setEnabled(serial);
  ControlAs<QComboBox>(kPortList)->setEnabled(serial);
}

void CDlgSetup::OnAdvanced() {
  AgentSettings& s = agent_.settings;
  std::optional<std::array<int32_t, 3>> values;
  if (hooks_.runSerial) {
    values = hooks_.runSerial(this, s.serialBaud, s.serialRts, s.serialCts);
  } else {
    CDlgSerialProp dialog(s.serialBaud, s.serialRts, s.serialCts, this);
    if (dialog.exec() == QDialog::Accepted) values = {dialog.baud(), dialog.rts(), dialog.cts()};
  }
  if (!values) return;
  s.serialBaud = (*values)[0];
  s.serialRts = (*values)[1];
  s.serialCts = (*values)[2];
}

void CDlgSetup::OnUsers() {
  if (hooks_.runUserList) {
    hooks_.runUserList(this);
    return;
  }
  CDlgUserList dialog(agent_, hooks_.ask, {}, this);
  dialog.exec();
  SaveUsers(agent_.paths.usersFilePath, agent_.users, agent_.login.securityEnabled);
}

void CDlgSetup::OnDataProtection() {
  std::u16string projectDir;
  platform::GetPrivateProfileString(u"Application", u"Directory", u"", projectDir, kMaxPathChars,
                                    agent_.paths.exeDir + u"\\CEApp.INI");
  const auto say = [this](std::u16string_view text) {
    if (hooks_.ask) hooks_.ask(this, text, MessageBoxKind::kOk, MessageBoxIcon::kInformation);
  };
  if (projectDir.empty()) {
    say(StatusText(kTextNoActiveProject));
    return;
  }
  DataProtectionLibrary* library = hooks_.dataProtection;
  if (!library || !library->Prepare()) {
    say(StatusText(kTextDataProtectionAbsent));
    return;
  }
  void* window = reinterpret_cast<void*>(winId());
  if (library->Initialize(window, projectDir, 0) == 0 && hooks_.addStatusLine) {
    hooks_.addStatusLine(FormatStatusText(kTextDataProtectionInitError, {library->State()}));
  }
  library->Configure(window);
}

void CDlgSetup::accept() {
  AgentSettings& s = agent_.settings;
  const std::u16string& ini = agent_.paths.agentIniPath;
  const auto write = [&](std::u16string_view key, std::u16string_view value) {
    platform::WritePrivateProfileString(u"Setup", key, value, ini);
  };
  s.device = ControlAs<QRadioButton>(kSerialRadio)->isChecked() ? 0
             : ControlAs<QRadioButton>(kTcpRadio)->isChecked()  ? 1
                                                                : 2;
  write(u"Device", Decimal(s.device));

  auto* ports = ControlAs<QComboBox>(kPortList);
  s.serialPort = 0;
  if (ports->currentIndex() >= 0) {
    const auto match = QRegularExpression(QStringLiteral("^COM(\\d+)"))
                           .match(ports->itemText(ports->currentIndex()));
    const int n = match.hasMatch() ? match.captured(1).toInt() : 0;
    s.serialPort = n > 0 ? n - 1 : n;
  }
  write(u"SerialPort", Decimal(s.serialPort));
  write(u"SerialBaudRate", Decimal(s.serialBaud));
  write(u"SerialRTS", s.serialRts ? u"1" : u"0");
  write(u"SerialCTS", s.serialCts ? u"1" : u"0");
  s.runLumoraOnStartup = ControlAs<QCheckBox>(kRunOnStartup)->isChecked() ? 1 : 0;
  write(u"RunLumoraOnStartup", s.runLumoraOnStartup ? u"1" : u"0");
  s.lockDownload = ControlAs<QCheckBox>(kLockDownload)->isChecked() ? 1 : 0;
  write(u"LockDownload", s.lockDownload ? u"1" : u"0");
  QDialog::accept();
}

}  // namespace perimo
