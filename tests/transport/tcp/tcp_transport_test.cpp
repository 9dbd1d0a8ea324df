// The TCP transport in-process: a real listener on the event loop and a plain socket as the
// workstation.
#include "transport/tcp/tcp_transport.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "protocol/agent_state.h"
#include "transport/tcp/client_socket.h"
#include "transport/tcp/darrow_socket.h"
#include "transport/tcp/server_address_check.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "tcp_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

class TcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    folder = fs::temp_directory_path() / ("perimo-tcp-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / "A.INI") << "[Remote]\nPort=0\n";
    agent.paths.agentIniPath = platform::ToWirePath((folder / "A.INI").string());
    agent.statusSink = [this](std::u16string_view text) { lines.emplace_back(text); };
    agent.pause = [](uint32_t) {};
    transport = std::make_unique<TcpTransport>(
        agent, TcpHooks{[this](std::u16string_view t) { statuses.emplace_back(t); },
                        [this](std::u16string_view t) { boxes.emplace_back(t); }});
    ASSERT_TRUE(transport->OpenListener());
  }
  void TearDown() override {
    for (int fd : peers) close(fd);
    transport.reset();
    fs::remove_all(folder);
  }

  int ConnectPeer() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(transport->listeningPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    peers.push_back(fd);
    RunUntil([&] { return transport->connected() && !transport->listener()->clients().empty(); });
    return fd;
  }

  template <typename Done>
  bool RunUntil(Done done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
      if (timer.elapsed() > timeoutMs) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }

  // Reads what the agent sends until `count` bytes arrived (running the loop meanwhile).
  Bytes Receive(int fd, size_t count) {
    Bytes got;
    RunUntil([&] {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 0) == 1) {
        uint8_t buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
        if (n == 0) return true;
      }
      return got.size() >= count;
    });
    return got;
  }

  CClientSocket* Client() { return transport->listener()->clients().back(); }

  fs::path folder;
  AgentState agent;
  std::unique_ptr<TcpTransport> transport;
  std::vector<std::u16string> lines, statuses, boxes;
  std::vector<int> peers;
};

TEST_F(TcpTest, AcceptResetsTheConnectionStateAndShowsIt) {
  agent.wideStrings = true;
  agent.login.loggedInUser = u"bob";
  agent.login.secureLinkOpen = true;
  transport->SetFramedMode(true);
  ConnectPeer();
  EXPECT_FALSE(agent.wideStrings);
  EXPECT_TRUE(agent.login.loggedInUser.empty());
  EXPECT_FALSE(agent.login.secureLinkOpen);
  EXPECT_FALSE(transport->framedMode());
  EXPECT_EQ(statuses.back(), u"Connected to remote client");
}

TEST_F(TcpTest, LastConnectionClosingClearsConnectedAndFramed) {
  const int fd = ConnectPeer();
  transport->SetFramedMode(true);
  close(fd);
  peers.clear();
  ASSERT_TRUE(RunUntil([&] { return !transport->connected(); }));
  EXPECT_FALSE(transport->framedMode());
  EXPECT_EQ(statuses.back(), u"Not connected to remote client");
  EXPECT_EQ(lines.back(), u"Close Socket.");
}

TEST_F(TcpTest, ReplyTooLargeForTheSendBufferIsRefusedWhole) {
  const int fd = ConnectPeer();
  transport->SetFramedMode(true);
  const Bytes dles(65535, 0x10);  // 131073 bytes once doubled and wrapped
  EXPECT_EQ(TcpReply(Client(), dles.data(), static_cast<int32_t>(dles.size())), 0);
  EXPECT_NE(lines.back().find(u"Reply not sent"), std::u16string::npos);
  const Bytes fits(65534, 0x10);
  EXPECT_EQ(TcpReply(Client(), fits.data(), static_cast<int32_t>(fits.size())), 1);
  EXPECT_EQ(Receive(fd, 131071).size(), 131071u);
}

TEST_F(TcpTest, SecureLinkDecryptsRequestsAndEncryptsReplies) {
  const int fd = ConnectPeer();
  agent.login.securityEnabled = true;
  agent.login.secureLinkOpen = true;
  const Bytes keepAlive{0x80};
  const Bytes request = agent.cipher.EncryptFrame(keepAlive);
  ASSERT_FALSE(request.empty());
  ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  // Nobody is logged in: the gate refuses, and the refusal travels encrypted.
  Bytes reply = Receive(fd, 16);
  ASSERT_EQ(reply.size(), 16u);
  const int32_t n = agent.cipher.DecryptFrame(reply.data(), static_cast<int32_t>(reply.size()));
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + n), (Bytes{0x15, 0x35}));
}

TEST_F(TcpTest, ListenerFailuresShowTheirMessage) {
  std::ofstream(folder / "A.INI") << "[Remote]\nPort=" << transport->listeningPort() << "\n";
  TcpTransport second(agent,
                      TcpHooks{{}, [this](std::u16string_view t) { boxes.emplace_back(t); }});
  EXPECT_FALSE(second.OpenListener());
  EXPECT_EQ(boxes.back(), u"Couldn't create socket\n");
}

TEST_F(TcpTest, RefusedReceiveBufferLowersPackSize) {
  agent.settings.packSize = 1 << 24;  // asks for 880 MiB of socket buffer
  ConnectPeer();
  EXPECT_LT(agent.settings.packSize, 1 << 24);
  EXPECT_GE(agent.settings.packSize, kLowestPackSize);
  EXPECT_NE(lines.back().find(u"Fail to set buffer size to 901120KB"), std::u16string::npos);
}

TEST(ReceiveBufferSizing, PackSizeFollowsTheAutotuningCeiling) {
  // Stock kernels let a buffer grow to 6 MiB (4 MiB on older ones): 55 blocks of 16 KiB fit.
  EXPECT_EQ(ReducedPackSize(901120, 6291456, 16384), 16384);
  EXPECT_EQ(ReducedPackSize(901120, 4194304, 16384), 16384);
  // A small device whose tcp_rmem stops at 256 KiB.
  EXPECT_EQ(ReducedPackSize(901120, 262144, 16384), 4766);
  EXPECT_EQ(ReducedPackSize(901120, 4096, 16384), 255);
}

TEST(ReceiveBufferSizing, TheCeilingIsTheThirdValueOfTcpRmem) {
  char path[] = "/tmp/perimo-rmem-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "4096\t131072\t6291456\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  EXPECT_EQ(ReceiveAutotuningCeiling(path), 6291456);
  unlink(path);
  EXPECT_EQ(ReceiveAutotuningCeiling(path), 0);  // unknown: nothing is lowered
  EXPECT_GT(ReceiveAutotuningCeiling(), 0);      // this machine's own
}

TEST(ServerAddressCheck, OnlyAnotherRealAddressStartsTheChange) {
  EXPECT_FALSE(NeedsAddressChange(u"", "10.0.0.5"));
  EXPECT_FALSE(NeedsAddressChange(u"10.0.0.5", "10.0.0.5"));
  EXPECT_FALSE(NeedsAddressChange(u"10.0.0.5", "127.0.0.1"));
  EXPECT_FALSE(NeedsAddressChange(u"10.0.0.5", "127.0.1.1"));  // Debian's host name entry
  EXPECT_FALSE(NeedsAddressChange(u"10.0.0.5", "0.0.0.0"));
  EXPECT_FALSE(NeedsAddressChange(u"10.0.0.5", ""));
  EXPECT_TRUE(NeedsAddressChange(u"10.0.0.6", "10.0.0.5"));
}

}  // namespace
}  // namespace perimo
