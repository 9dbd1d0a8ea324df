#include "transport/tcp/tcp_transport.h"

#include <cstdlib>
#include <string>

#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/agent_state.h"
#include "protocol/status_text.h"
#include "transport/tcp/client_socket.h"
#include "transport/tcp/darrow_socket.h"

namespace perimo {
namespace {

// "Port" as the system's decimal conversion reads it: leading blanks, a sign, digits; text
// that is not a number gives 0 (any free port).
uint16_t PortNumber(const std::u16string& text) {
  const std::string ascii = platform::ToLatin1(text);
  return static_cast<uint16_t>(std::atoi(ascii.c_str()));
}

}  // namespace

TcpTransport::TcpTransport(AgentState& agent, TcpHooks hooks, QObject* parent)
    : QObject(parent), agent_(agent), hooks_(std::move(hooks)) {}

TcpTransport::~TcpTransport() {
  CloseListener();
}

bool TcpTransport::listening() const {
  return listener_ != nullptr && listener_->isListening();
}

uint16_t TcpTransport::listeningPort() const {
  return listening() ? listener_->serverPort() : 0;
}

bool TcpTransport::OpenListener() {
  CloseListener();
  listener_ = new CDarrowSocket(*this);
  std::u16string port;
  platform::GetPrivateProfileString(u"Remote", u"Port", u"4322", port, 32,
                                    agent_.paths.agentIniPath);
  listener_->setListenBacklogSize(kListenBacklog);
  if (listener_->listen(QHostAddress::AnyIPv4, PortNumber(port))) return true;
  // Binding fails for a port in use or not allowed; anything else failed at listen.
  const auto error = listener_->serverError();
  const bool bindFailed = error == QAbstractSocket::AddressInUseError ||
                          error == QAbstractSocket::SocketAccessError ||
                          error == QAbstractSocket::SocketAddressNotAvailableError;
  if (hooks_.messageBox) {
    hooks_.messageBox(StatusText(bindFailed ? kTextCannotCreateSocket : kTextCannotListenSocket));
  }
  if (error == QAbstractSocket::AddressInUseError) {
    agent_.AddStatusLine(
        FormatStatusText(kTextPortInUse, {static_cast<int32_t>(PortNumber(port))}));
  }
  return false;
}

void TcpTransport::CloseListener() {
  if (listener_ != nullptr) {
    delete listener_;
    listener_ = nullptr;
    ShowConnectionStatus(kTextNotConnected);
    framedMode_ = false;
  }
  connected_ = false;
}

void TcpTransport::PollClients() {
  if (!connected_ || agent_.settings.device != 1 || listener_ == nullptr) return;
  listener_->PollClients();
}

void TcpTransport::OnAccepted() {
  connected_ = true;
  ShowConnectionStatus(kTextConnected);
}

void TcpTransport::PostClientClosed(uint64_t connectionId) {
  QMetaObject::invokeMethod(
      this, [this, connectionId] { OnClientClosed(connectionId); }, Qt::QueuedConnection);
}

// The connection is named by its id, not its address: a later connection may live at the
// address of one already deleted.
void TcpTransport::OnClientClosed(uint64_t connectionId) {
  if (listener_ == nullptr) return;
  if (listener_->RemoveClient(connectionId) && listener_->clients().empty()) framedMode_ = false;
  if (!listener_->clients().empty()) return;
  ShowConnectionStatus(kTextNotConnected);
  connected_ = false;
}

void TcpTransport::ShowConnectionStatus(int textId) {
  if (hooks_.showConnectionStatus) hooks_.showConnectionStatus(StatusText(textId));
}

}  // namespace perimo
