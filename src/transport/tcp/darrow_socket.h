#pragma once
// The listening socket. Each accepted connection replaces the one before it: the agent
// serves one workstation at a time.
#include <QTcpServer>
#include <cstdint>
#include <list>

namespace perimo {

class CClientSocket;
class TcpTransport;

constexpr int kListenBacklog = 5;
// packSize is never lowered below this when the system refuses a large receive buffer.
constexpr int32_t kLowestPackSize = 255;
// Blocks of a download run that should fit in the socket's receive buffer.
constexpr int32_t kBlocksPerRun = 55;

// The packSize to use when a connection's receive buffer can hold `granted` bytes of a
// `requested` size; the current packSize when the request is met.
int32_t ReducedPackSize(int64_t requested, int64_t granted, int32_t packSize);

// What Linux receive autotuning may grow a connection's buffer to: the third value of
// net.ipv4.tcp_rmem (6291456 on a stock kernel). 0 when it cannot be read. Setting SO_RCVBUF
// would switch autotuning off and cap the buffer at net.core.rmem_max, so the agent leaves it
// alone and compares its request with this ceiling instead.
int64_t ReceiveAutotuningCeiling(const char* procFile = "/proc/sys/net/ipv4/tcp_rmem");

class CDarrowSocket : public QTcpServer {
  Q_OBJECT

 public:
  explicit CDarrowSocket(TcpTransport& transport);
  ~CDarrowSocket() override;

  void SetReceiveBufferSize(CClientSocket* client);
  // True when the connection was in the list (it is then closed and deleted).
  bool RemoveClient(uint64_t connectionId);
  void PollClients();
  const std::list<CClientSocket*>& clients() const { return clients_; }

 protected:
  void incomingConnection(qintptr handle) override;  // the accept notification

 private:
  TcpTransport& transport_;
  std::list<CClientSocket*> clients_;
};

}  // namespace perimo
