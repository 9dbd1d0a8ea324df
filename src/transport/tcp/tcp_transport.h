#pragma once
// The TCP side of the main frame: the listener, the connected flag, the framed-mode flag and
// the handling of a closed connection (a queued call, so that it runs after the notification
// that reported it).
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string_view>

namespace perimo {

struct AgentState;
class CDarrowSocket;
class CClientSocket;

struct TcpHooks {
  // The status window's connection status text; absent without a status window.
  std::function<void(std::u16string_view)> showConnectionStatus;
  // A message box (headless: a line on standard output).
  std::function<void(std::u16string_view)> messageBox;
};

class TcpTransport : public QObject {
  Q_OBJECT

 public:
  TcpTransport(AgentState& agent, TcpHooks hooks, QObject* parent = nullptr);
  ~TcpTransport() override;

  // Listens on "Remote"/"Port" of the agent's settings file; true when listening.
  bool OpenListener();
  void CloseListener();
  // Timer tick: asks each connection for waiting bytes and queues a read for it.
  void PollClients();

  bool connected() const { return connected_; }
  bool listening() const;
  uint16_t listeningPort() const;
  CDarrowSocket* listener() const { return listener_; }

  // Application-wide: replies and requests are wrapped in STX ... DLE ETX.
  bool framedMode() const { return framedMode_; }
  void SetFramedMode(bool on) { framedMode_ = on; }

  AgentState& agent() { return agent_; }

  // Called by the listener and its connections.
  void OnAccepted();
  void PostClientClosed(uint64_t connectionId);

 private:
  void OnClientClosed(uint64_t connectionId);
  void ShowConnectionStatus(int textId);

  AgentState& agent_;
  TcpHooks hooks_;
  CDarrowSocket* listener_ = nullptr;
  bool connected_ = false;
  bool framedMode_ = false;
};

}  // namespace perimo
