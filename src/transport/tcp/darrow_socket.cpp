#include "transport/tcp/darrow_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "protocol/agent_state.h"
#include "protocol/status_text.h"
#include "transport/tcp/client_socket.h"
#include "transport/tcp/tcp_transport.h"

namespace perimo {

int32_t ReducedPackSize(int64_t requested, int64_t granted, int32_t packSize) {
  if (granted >= requested) return packSize;
  const int64_t reduced = granted / kBlocksPerRun;
  return reduced >= kLowestPackSize ? static_cast<int32_t>(std::min<int64_t>(reduced, INT32_MAX))
                                    : kLowestPackSize;
}

int64_t ReceiveAutotuningCeiling(const char* procFile) {
  FILE* file = std::fopen(procFile, "re");
  if (file == nullptr) return 0;
  long long low = 0, initial = 0, ceiling = 0;
  const int fields = std::fscanf(file, "%lld %lld %lld", &low, &initial, &ceiling);
  std::fclose(file);
  return fields == 3 && ceiling > 0 ? ceiling : 0;
}

CDarrowSocket::CDarrowSocket(TcpTransport& transport) : transport_(transport) {}

CDarrowSocket::~CDarrowSocket() {
  for (CClientSocket* client : clients_) delete client;
  clients_.clear();
}

void CDarrowSocket::incomingConnection(qintptr handle) {
  const int fd = static_cast<int>(handle);
  AgentState& agent = transport_.agent();
  transport_.SetFramedMode(false);
  agent.wideStrings = false;

  // Replies are sent whole in one call and then answered: do not hold them back.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

  auto* client = new CClientSocket(transport_, fd, this);
  if (!clients_.empty()) {
    // The new workstation takes over: the earlier one sees its connection closed.
    CClientSocket* old = clients_.back();
    clients_.clear();
    old->Shutdown();
    old->deleteLater();
  }
  SetReceiveBufferSize(client);
  clients_.push_back(client);
  transport_.OnAccepted();
}

void CDarrowSocket::SetReceiveBufferSize(CClientSocket* /*client*/) {
  AgentState& agent = transport_.agent();
  const int64_t request = static_cast<int64_t>(agent.settings.packSize) * kBlocksPerRun;
  const int64_t ceiling = ReceiveAutotuningCeiling();
  if (ceiling == 0 || ceiling >= request) return;
  const int32_t reduced = ReducedPackSize(request, ceiling, agent.settings.packSize);
  agent.AddStatusLine(
      FormatStatusText(kTextReceiveBufferReduced, {static_cast<int64_t>(request / 1024), reduced}));
  agent.settings.packSize = reduced;
}

bool CDarrowSocket::RemoveClient(uint64_t connectionId) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [connectionId](CClientSocket* c) { return c->id() == connectionId; });
  if (it == clients_.end()) return false;
  CClientSocket* client = *it;
  clients_.erase(it);
  client->Shutdown();
  // Deleted from the event loop: the connection may still be on the call stack.
  client->deleteLater();
  return true;
}

void CDarrowSocket::PollClients() {
  for (CClientSocket* client : clients_) {
    if (client->BytesWaiting() > 0) {
      QMetaObject::invokeMethod(client, &CClientSocket::OnReceive, Qt::QueuedConnection);
    }
  }
}

}  // namespace perimo
