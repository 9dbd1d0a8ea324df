#include "transport/tcp/client_socket.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

#include "platform/tick.h"
#include "protocol/agent_state.h"
#include "protocol/dispatcher.h"
#include "protocol/file_transfer_commands.h"
#include "protocol/status_text.h"
#include "transport/codec/frame_codec.h"
#include "transport/tcp/tcp_transport.h"

namespace perimo {
namespace {

std::atomic<uint64_t> nextConnectionId{1};

class SocketSource : public ByteSource {
 public:
  explicit SocketSource(int fd) : fd_(fd) {}
  int64_t BytesWaiting() override {
    int waiting = 0;
    return ioctl(fd_, FIONREAD, &waiting) == 0 ? waiting : -1;
  }
  int64_t Receive(uint8_t* buffer, int64_t count) override {
    ssize_t n;
    do {
      n = recv(fd_, buffer, static_cast<size_t>(count), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
  }

 private:
  int fd_;
};

bool LinkEncrypted(const AgentState& agent) {
  return agent.login.securityEnabled && agent.login.secureLinkOpen;
}

}  // namespace

CClientSocket::CClientSocket(TcpTransport& transport, int descriptor, QObject* parent)
    : QObject(parent),
      transport_(transport),
      id_(nextConnectionId++),
      fd_(descriptor),
      receiveBuffer_(new uint8_t[kCodecBufferSize]()),
      sendBuffer_(new uint8_t[kCodecBufferSize]),
      cipherBuffer_(new uint8_t[kCodecBufferSize]) {
  transport_.agent().login.ResetLoginState();
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CClientSocket::OnReceive);
}

CClientSocket::~CClientSocket() {
  if (fd_ >= 0) ::close(fd_);
}

void CClientSocket::SetFramedMode(bool on) {
  transport_.SetFramedMode(on);
}

int64_t CClientSocket::BytesWaiting() const {
  if (fd_ < 0) return -1;
  int waiting = 0;
  return ioctl(fd_, FIONREAD, &waiting) == 0 ? waiting : -1;
}

void CClientSocket::Shutdown() {
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  if (fd_ < 0) return;
  // Closed or replaced: a simple download this workstation left open is never finished.
  EndDownloadOfLostConnection(transport_.agent());
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
}

int32_t CClientSocket::ReceiveFrame(uint8_t* buffer, int32_t capacity) {
  if (fd_ < 0) return 0;
  SocketSource source(fd_);
  const uint32_t dropsBefore = reader_.decoder().oversizeDrops();
  const int32_t n = reader_.ReceiveFrame(source, transport_.framedMode(), buffer, capacity,
                                         platform::GetTickCount());
  if (reader_.decoder().oversizeDrops() != dropsBefore) {
    transport_.agent().AddStatusLine(
        FormatStatusText(kTextReceiveFrameTooLong, {kMaxDecodedFrame}));
  }
  return n;
}

void CClientSocket::OnReceive() {
  // Frames are handled one at a time: a read queued while one is being handled waits.
  if (receiving_ || fd_ < 0) return;
  receiving_ = true;
  AgentState& agent = transport_.agent();
  int frames = 0;
  for (;;) {
    int32_t n = ReceiveFrame(receiveBuffer_.get(), kMaxFrameLength);
    if (n <= 0) break;
    // A chunk that does not decrypt is dropped, but framed frames already read behind it
    // must still be handled: no new bytes would arrive to wake this loop for them.
    if (LinkEncrypted(agent)) n = agent.cipher.DecryptFrame(receiveBuffer_.get(), n);
    if (n <= 0) continue;
    DispatchFrame(agent, receiveBuffer_.get(), n, this, TcpReply);
    ++frames;
    if (fd_ < 0) break;  // replaced while the frame was handled
  }
  receiving_ = false;
  // A close shows as readable with nothing to read; after frames the socket stays readable
  // and the next notification finds it, so the check costs nothing on the busy path.
  if (fd_ >= 0 && frames == 0 && PeerClosed()) OnClose();
}

// Readable with nothing waiting means the peer closed or the connection failed.
bool CClientSocket::PeerClosed() const {
  if (BytesWaiting() != 0) return false;
  uint8_t byte;
  const ssize_t n = recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return true;
  return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

void CClientSocket::OnClose() {
  if (closeReported_) return;
  closeReported_ = true;
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  transport_.PostClientClosed(id_);
  transport_.agent().AddStatusLine(StatusText(kTextCloseSocket));
}

int CClientSocket::Reply(const uint8_t* data, int32_t length) {
  AgentState& agent = transport_.agent();
  if (data == nullptr || length < 0) return 0;
  if (LinkEncrypted(agent)) {
    length = agent.cipher.EncryptFrame(data, length, cipherBuffer_.get(), kCodecBufferSize);
    if (length <= 0) return 0;
    data = cipherBuffer_.get();
  }
  reader_.ResetDecoder();

  const bool framed = transport_.framedMode();
  const int32_t total = EncodeFrame(data, length, framed, sendBuffer_.get(), kCodecBufferSize);
  if (total < 0) {
    // Larger than the send buffer: refused whole rather than cut.
    agent.AddStatusLine(FormatStatusText(kTextReplyTooLong,
                                         {EncodedLength(data, length, framed), kCodecBufferSize}));
    return 0;
  }
  if (fd_ < 0) {
    agent.AddStatusLine(FormatStatusText(kTextSendFailed, {static_cast<uint32_t>(EBADF)}));
    return 0;
  }

  // A reply goes out whole: a send that takes part of it continues with the rest, and one
  // that would block waits for room, up to kSendRetryMs in all.
  const uint32_t t0 = platform::GetTickCount();
  int32_t sent = 0;
  int error = 0;
  while (sent < total) {
    const ssize_t n = send(fd_, sendBuffer_.get() + sent, static_cast<size_t>(total - sent),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<int32_t>(n);
      continue;
    }
    error = n < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if ((error == EAGAIN || error == EWOULDBLOCK) &&
        platform::GetTickCount() - t0 <= kSendRetryMs) {
      pollfd pfd{fd_, POLLOUT, 0};
      poll(&pfd, 1, kSendRetryPauseMs);
      continue;
    }
    break;
  }
  if (sent == total) return 1;
  if (sent > 0) {
    agent.AddStatusLine(FormatStatusText(kTextPartialSend, {total, sent}));
    return 1;
  }
  agent.AddStatusLine(FormatStatusText(kTextSendFailed, {static_cast<uint32_t>(error)}));
  return 0;
}

int TcpReply(Connection* connection, const uint8_t* data, int32_t length) {
  return connection != nullptr ? static_cast<CClientSocket*>(connection)->Reply(data, length) : 0;
}

}  // namespace perimo
