#pragma once
// One accepted workstation connection: reads frames (raw, or framed after 0x13), decrypts
// them under a secure link, dispatches them and sends the replies. Its buffers are allocated
// once, at accept.
#include <QObject>
#include <cstdint>
#include <memory>

#include "protocol/connection.h"
#include "transport/codec/frame_reader.h"

class QSocketNotifier;

namespace perimo {

class TcpTransport;

// How long a reply keeps retrying a send that would block.
constexpr uint32_t kSendRetryMs = 60000;
constexpr int kSendRetryPauseMs = 10;

class CClientSocket : public QObject, public Connection {
  Q_OBJECT

 public:
  // Takes ownership of the connected socket descriptor; resets the login state.
  CClientSocket(TcpTransport& transport, int descriptor, QObject* parent = nullptr);
  ~CClientSocket() override;

  void SetFramedMode(bool on) override;

  uint64_t id() const { return id_; }
  int descriptor() const { return fd_; }
  // Bytes the system holds for reading (FIONREAD); -1 when the query fails.
  int64_t BytesWaiting() const;

  // The read notification: dispatches every frame that can be read now.
  Q_INVOKABLE void OnReceive();
  // The next frame into buffer; its length, 0 when there is none.
  int32_t ReceiveFrame(uint8_t* buffer, int32_t capacity);
  // The body of TcpReply: encrypt, frame, send.
  int Reply(const uint8_t* data, int32_t length);
  // Shuts the socket down both ways, stops its notifications and closes it.
  void Shutdown();

 private:
  bool PeerClosed() const;
  void OnClose();

  TcpTransport& transport_;
  const uint64_t id_;
  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  FrameReader reader_;
  std::unique_ptr<uint8_t[]> receiveBuffer_;
  std::unique_ptr<uint8_t[]> sendBuffer_;
  std::unique_ptr<uint8_t[]> cipherBuffer_;  // the encrypted reply before framing
  bool receiving_ = false;
  bool closeReported_ = false;
};

// The ReplyFn of TCP connections: 1 when the bytes were taken, 0 when nothing was sent.
int TcpReply(Connection* connection, const uint8_t* data, int32_t length);

}  // namespace perimo
