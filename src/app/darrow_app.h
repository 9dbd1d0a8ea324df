#pragma once
// The application object: runs the start-up sequence, owns everything the command handlers
// share (AgentState) and the main frame, and releases it all at exit. One per process.
#include <QObject>
#include <functional>
#include <memory>
#include <string_view>

#include "app/single_instance.h"
#include "protocol/agent_state.h"
#include "ui/data_protection.h"
#include "ui/message_box.h"

namespace perimo {

class CMainFrame;
class CStatusDlg;

class CDarrowApp : public QObject {
  Q_OBJECT

 public:
  explicit CDarrowApp(bool headless);
  ~CDarrowApp() override;

  static CDarrowApp* Instance();

  // The start-up sequence; false ends the process at once.
  bool InitInstance();
  // Releases the main frame and the block buffer; the process's exit code.
  int ExitInstance();

  AgentState& agent() { return agent_; }
  CMainFrame* mainFrame() { return mainFrame_.get(); }
  bool headless() const { return headless_; }

  // A status line: to the status window's log view, or standard output without one.
  void AddStatusLine(std::u16string_view text);
  // Headless (or without a dialog toolkit): the text on standard output and the default
  // answer (No, or OK).
  MessageBoxAnswer MessageBox(std::u16string_view text, MessageBoxKind kind = MessageBoxKind::kOk,
                              MessageBoxIcon icon = MessageBoxIcon::kNone,
                              QWidget* parent = nullptr);
  // The status window; null when headless.
  CStatusDlg* statusWindow() { return statusDlg_.get(); }
  // The status window's Setup button: the setup dialog, then the transport reopened when the
  // connection settings changed.
  void RunSetup();
  // Where the setup dialog's data protection button goes; null while there is no library.
  DataProtectionLibrary* dataProtection = nullptr;

  // Set by the status window when it exists.
  std::function<void(std::u16string_view)> statusWindowSink;
  // Set by the users dialog when it exists: runs it modally.
  std::function<void()> runUserListDialog;

 private:
  void AskToConfigureSecurity();
  void CreateStatusWindow();
  void TellTerminalWhatTheWindowWouldShow();

  bool headless_;
  AgentState agent_;
  SingleInstanceLock lock_;
  std::unique_ptr<CStatusDlg> statusDlg_;
  std::unique_ptr<CMainFrame> mainFrame_;
  std::unique_ptr<DataProtectionLibrary> dataProtectionBinding_;
};

// A status line on standard output: one UTF-8 line per line of text, flushed at once.
void WriteStatusLineToStdout(std::u16string_view text);

}  // namespace perimo
