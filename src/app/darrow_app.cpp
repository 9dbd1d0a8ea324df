#include "app/darrow_app.h"

#include <QApplication>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/agent_paths.h"
#include "app/agent_settings.h"
#include "app/data_protection_binding.h"
#include "app/language_library.h"
#include "app/main_frame.h"
#include "app/serial_hooks.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "platform/window_endpoint.h"
#include "protocol/culture_table.h"
#include "protocol/dialog_resources.h"
#include "protocol/file_transfer_commands.h"
#include "protocol/runtime_commands.h"
#include "protocol/status_text.h"
#include "security/users_file.h"
#include "ui/connection_texts.h"
#include "ui/machine_addresses.h"
#include "ui/setup_dialog.h"
#include "ui/status_window.h"
#include "ui/user_list_dialog.h"

namespace perimo {
namespace {

CDarrowApp* theApp = nullptr;

constexpr int32_t kBlocksInBuffer = 55;

// A second start asks the running agent's window to come to the front.
void ActivateRunningAgent() {
  for (const char16_t* windowClass : {kEmbeddedWindowClass, kMainWindowClass}) {
    if (platform::PostWindowMessage(platform::WindowKey::kClass, windowClass, platform::kWmActivate,
                                    1, 0)) {
      return;
    }
  }
}

}  // namespace

void WriteStatusLineToStdout(std::u16string_view text) {
  std::string line = platform::ToUtf8(text);
  std::string out;
  out.reserve(line.size() + 1);
  for (char c : line) {
    if (c != '\r') out.push_back(c);  // "\r\r\n" separates lines in the log view
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

CDarrowApp::CDarrowApp(bool headless) : headless_(headless) {
  theApp = this;
  agent_.statusSink = [this](std::u16string_view text) { AddStatusLine(text); };
  agent_.pause = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

CDarrowApp::~CDarrowApp() {
  mainFrame_.reset();
  statusWindowSink = nullptr;
  statusDlg_.reset();
  if (theApp == this) theApp = nullptr;
}

CDarrowApp* CDarrowApp::Instance() {
  return theApp;
}

void CDarrowApp::AddStatusLine(std::u16string_view text) {
  if (statusWindowSink) {
    statusWindowSink(text);
  } else {
    WriteStatusLineToStdout(text);
  }
}

MessageBoxAnswer CDarrowApp::MessageBox(std::u16string_view text, MessageBoxKind kind,
                                        MessageBoxIcon icon, QWidget* parent) {
  return ShowMessageBox(parent, agent_.title, text, kind, icon, !headless_);
}

void CDarrowApp::CreateStatusWindow() {
  if (headless_ || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  StatusWindowHooks hooks;
  hooks.ask = [this](QWidget* parent, std::u16string_view text, MessageBoxKind kind,
                     MessageBoxIcon icon) { return MessageBox(text, kind, icon, parent); };
  hooks.exitAgent = [] { QCoreApplication::exit(0); };
  // Runtime control binds here once the agent can start the runtime.
  hooks.startRuntime = [this] { StartRuntime(agent_); };
  hooks.runSetup = [this] { RunSetup(); };
  hooks.exeFileName = platform::FromUtf8(
      QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString());
  statusDlg_ = std::make_unique<CStatusDlg>(agent_, std::move(hooks));
  statusWindowSink = [this](std::u16string_view text) { statusDlg_->AddStatusLine(text); };
  runUserListDialog = [this] {
    CDlgUserList dialog(
        agent_, [this](QWidget* parent, std::u16string_view text, MessageBoxKind kind,
                       MessageBoxIcon icon) { return MessageBox(text, kind, icon, parent); });
    dialog.exec();
  };
}

void CDarrowApp::RunSetup() {
  if (!statusDlg_) return;
  const AgentSettings before = agent_.settings;
  SetupHooks hooks;
  hooks.ask = [this](QWidget* parent, std::u16string_view text, MessageBoxKind kind,
                     MessageBoxIcon icon) { return MessageBox(text, kind, icon, parent); };
  hooks.addStatusLine = [this](std::u16string_view text) { AddStatusLine(text); };
  hooks.dataProtection = dataProtection;
  CDlgSetup setup(agent_, std::move(hooks), statusDlg_.get());
  if (setup.exec() != QDialog::Accepted) return;
  statusDlg_->SetConnectionTypeLine();
  if (TransportNeedsReopen(before, agent_.settings) && mainFrame_) {
    mainFrame_->CloseTransport();
    mainFrame_->OpenTransport();
  }
  statusDlg_->RefreshIpLine();
}

void CDarrowApp::TellTerminalWhatTheWindowWouldShow() {
  if (statusDlg_) return;
  const std::u16string type = ConnectionTypeText(agent_.settings);
  if (!type.empty()) WriteStatusLineToStdout(type);
  if (agent_.settings.device != 0) WriteStatusLineToStdout(IpLineText(MachineAddresses()));
}

bool CDarrowApp::InitInstance() {
  // The socket layer needs no start-up here. One agent per user: a second start hands over
  // to the first one and ends silently.
  if (!lock_.Acquire()) {
    ActivateRunningAgent();
    return false;
  }

  std::string exePath = platform::ExecutablePath();
  if (exePath.empty()) exePath = "./Perimo";
  agent_.paths = ComputeAgentPaths(exePath, SuiteFolderSources::FromSystem());
  dataProtectionBinding_ = MakeDataProtectionBinding(agent_);
  dataProtection = dataProtectionBinding_.get();
  // The culture's pending pack replaces the current one only for that exact culture; loading
  // then falls back from "de-DE" to "de" to the executable's folder.
  const std::u16string culture =
      SelectCulture(agent_.paths.settingsDir + u"Program Settings.ini", UserDefaultLocaleId());
  ApplyPendingLanguageUpdate(culture, exePath);
  SetLanguageResources(LoadLanguageLibrary(culture, exePath).pack);

  InstallSerialHooks(agent_.paths);
  agent_.settings = ReadAgentSettings(agent_.paths.agentIniPath);
  const int32_t configuredPackSize = agent_.settings.packSize;
  agent_.settings.packSize = UsablePackSize(configuredPackSize);
  if (agent_.settings.packSize < configuredPackSize) {
    AddStatusLine(
        FormatStatusText(kTextPackSizeLowered, {configuredPackSize, agent_.settings.packSize}));
  }
  WriteApplicationFile(agent_.paths.exeDir, agent_.settings.appName);

  agent_.blockBuffer.assign(static_cast<size_t>(agent_.settings.packSize) * kBlocksInBuffer, 0);
  agent_.title = ApplicationTitle(agent_.settings, agent_.paths.exeBaseName);

  CreateStatusWindow();
  mainFrame_ = std::make_unique<CMainFrame>(*this);
  if (statusDlg_) {
    CStatusDlg* window = statusDlg_.get();
    mainFrame_->showConnectionStatus = [window](std::u16string_view text) {
      window->SetConnectionStatus(text);
    };
    mainFrame_->activateStatusWindow = [window] { window->BringToFront(); };
    mainFrame_->onTimerTick = [window] { window->OnTimerTick(platform::GetTickCount()); };
  }
  if (!mainFrame_->Create()) return false;
  if (statusDlg_) {
    if (agent_.settings.showWindow == 5) {
      statusDlg_->show();
    } else if (!statusDlg_->hasNotificationArea()) {
      // Without a notification area a hidden window could never be reached again.
      statusDlg_->showMinimized();
    }
  }
  TellTerminalWhatTheWindowWouldShow();

  LoadUsers(agent_.paths.usersFilePath, agent_.users, agent_.login.securityEnabled);
  AskToConfigureSecurity();
  return true;
}

void CDarrowApp::AskToConfigureSecurity() {
  if (agent_.login.securityEnabled || agent_.settings.doNotAskSecurity != 0) return;
  if (MessageBox(StatusText(kTextSecurityPrompt), MessageBoxKind::kYesNo,
                 MessageBoxIcon::kExclamation) == MessageBoxAnswer::kYes) {
    if (runUserListDialog) {
      runUserListDialog();
      SaveUsers(agent_.paths.usersFilePath, agent_.users, agent_.login.securityEnabled);
    }
    return;
  }
  if (MessageBox(StatusText(kTextSuppressSecurityPrompt), MessageBoxKind::kYesNo,
                 MessageBoxIcon::kQuestion) == MessageBoxAnswer::kYes) {
    platform::WritePrivateProfileString(u"Option", u"DoNotAskSecurity", u"1",
                                        agent_.paths.agentIniPath);
  }
}

int CDarrowApp::ExitInstance() {
  mainFrame_.reset();
  EndTransfers(agent_);
  RemoveSerialHooks();
  statusWindowSink = nullptr;
  statusDlg_.reset();
  agent_.blockBuffer.clear();
  agent_.blockBuffer.shrink_to_fit();
  SetLanguageResources(nullptr);
  return 0;
}

}  // namespace perimo
