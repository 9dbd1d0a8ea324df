// The serial library against the fake device: opening and its refusals, buffer sizes, RTS
// around a transmission, the CTS wait, echo capture, the receive ring and the per-byte
// routine, the time-outs on an injected tick count, and the status texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/serial/fake_serial_device.h"
#include "transport/serial/sc_port.h"
#include "transport/serial/sc_serial.h"

namespace perimo::serial {
namespace {

using testing::FakeSerialDevice;

std::mutex traceLock;
std::vector<std::u16string> traced;

void RecordTrace(const char16_t* text) {
  std::lock_guard g(traceLock);
  traced.emplace_back(text);
}

std::vector<std::u16string> Traced() {
  std::lock_guard g(traceLock);
  return traced;
}

std::atomic<uint32_t> fakeTick{1000};
uint32_t FakeTick() {
  return fakeTick.load();
}

// Bytes the user routine saw, in order (reader thread).
std::mutex seenLock;
std::vector<uint8_t> seen;
void RecordByte(generic_port* port) {
  char c = 0;
  if (SCPeekLastChar(port, &c)) {
    std::lock_guard g(seenLock);
    seen.push_back(static_cast<uint8_t>(c));
  }
}

size_t SeenCount() {
  std::lock_guard g(seenLock);
  return seen.size();
}

template <typename Predicate>
bool WaitFor(Predicate done, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

SCPortConfig Config(int index = 0) {
  SCPortConfig c{};
  c.portIndex = index;
  c.baudRate = 19200;
  c.dataBits = 8;
  c.stopBits = 1;
  c.parity = SC_PARITY_NONE;
  c.startTimeout = 2000;
  c.charTimeout = 2000;
  c.txBufferSize = 2048;
  c.rxBufferSize = 2048;
  return c;
}

class SerialLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeSerialDevice::Install(/*refusedBaud=*/14400);
    SCSetTraceWriter(RecordTrace);
    {
      std::lock_guard g(traceLock);
      traced.clear();
    }
    std::lock_guard g(seenLock);
    seen.clear();
  }
  void TearDown() override {
    for (generic_port* p : open_) SCPortClose(p);
    SCSetTraceWriter(nullptr);
    SCSetTickSource(nullptr);
    FakeSerialDevice::Uninstall();
  }

  generic_port* Open(const SCPortConfig& config, int* status = nullptr) {
    int ignored;
    generic_port* port = SCPortOpen(7, &config, status ? status : &ignored);
    if (port) open_.push_back(port);
    return port;
  }

  std::vector<generic_port*> open_;
};

TEST_F(SerialLibraryTest, OpenRefusesWhatItCannotServe) {
  struct Case {
    const char* what;
    SCPortConfig config;
    int status;
  };
  auto with = [](auto change) {
    SCPortConfig c = Config(1);
    change(c);
    return c;
  };
  const Case cases[] = {
      {"index 8", with([](SCPortConfig& c) { c.portIndex = 8; }), SC_STATUS_INVALID_PORT},
      {"index -1", with([](SCPortConfig& c) { c.portIndex = -1; }), SC_STATUS_INVALID_PORT},
      {"baud 9", with([](SCPortConfig& c) { c.baudRate = 9; }), SC_STATUS_INVALID_BAUD},
      {"baud 0", with([](SCPortConfig& c) { c.baudRate = 0; }), SC_STATUS_INVALID_BAUD},
      {"device refuses", with([](SCPortConfig& c) { c.baudRate = 14400; }), SC_STATUS_INVALID_BAUD},
      {"parity 3", with([](SCPortConfig& c) { c.parity = 3; }), SC_STATUS_INVALID_PORT},
      {"stop bits 0", with([](SCPortConfig& c) { c.stopBits = 0; }), SC_STATUS_INVALID_PORT},
  };
  for (const Case& c : cases) {
    int status = 99;
    EXPECT_EQ(Open(c.config, &status), nullptr) << c.what;
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_EQ(SCIsPortFree(1), 1) << c.what << ": a refused open keeps the slot free";
  }

  int status = 99;
  generic_port* port = Open(Config(1), &status);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(SCIsPortFree(1), 0);
  EXPECT_EQ(SCIsPortFree(0), 1);
  EXPECT_EQ(SCIsPortFree(8), 0);
  EXPECT_EQ(Open(Config(1), &status), nullptr);
  EXPECT_EQ(status, SC_STATUS_PORT_IN_USE);
  EXPECT_EQ(SCGetUserValue(port), 7);
  // DTR is raised at open unless the options say otherwise.
  EXPECT_EQ(FakeSerialDevice::last->Events(), std::vector<std::string>{"DTR 1"});

  SCPortClose(port);
  open_.clear();
  EXPECT_EQ(SCIsPortFree(1), 1);
  SCPortConfig quiet = Config(1);
  quiet.options = SC_OPTION_NO_DTR;
  ASSERT_NE(Open(quiet), nullptr);
  EXPECT_TRUE(FakeSerialDevice::last->Events().empty());
}

TEST_F(SerialLibraryTest, BufferSizesAreClampedAndTheTransmitBufferCutsLongSends) {
  SCPortConfig c = Config();
  c.txBufferSize = 100;
  c.rxBufferSize = 40000;
  generic_port* port = Open(c);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(SCSpaceFreeInTxBuffer(port), 512);
  EXPECT_EQ(SCSpaceFreeInRxBuffer(port), 32767);

  std::vector<char> many(600, 'x');
  EXPECT_EQ(SCSendTxBuf(port, many.data(), 600), 1);
  const auto events = FakeSerialDevice::last->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].size(), std::string("write").size() + 3 * 512);

  char out = 'z';
  EXPECT_EQ(SCReadChar(port, &out), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(SCPeekLastChar(port, &out), 0);
  EXPECT_EQ(SCPeekChar(port, 0, &out), 0);
}

TEST_F(SerialLibraryTest, RtsRisesForATransmissionAndDropsAfterIt) {
  for (int mode : {SC_RTS_NONE, SC_RTS_CONTROL}) {
    SCPortConfig c = Config();
    c.rtsMode = mode;
    c.options = SC_OPTION_NO_DTR;
    generic_port* port = Open(c);
    ASSERT_NE(port, nullptr);
    const char reply[] = {0x02, 0x06, 0x10, 0x03, 0x06};
    ASSERT_EQ(SCSendTxBuf(port, reply, 5), 1);
    EXPECT_EQ(SCWaitTxEmpty(port), 1);
    std::vector<std::string> expected = {"write 02 06 10 03 06"};
    if (mode == SC_RTS_CONTROL) expected = {"RTS 1", "write 02 06 10 03 06", "RTS 0"};
    EXPECT_EQ(FakeSerialDevice::last->Events(), expected) << "mode " << mode;
    EXPECT_EQ(Traced().back(), u"Tx:02 06 10 03 06 ");
    SCPortClose(port);
    open_.clear();
  }
}

TEST_F(SerialLibraryTest, CtsIsAwaitedUpToItsTimeOut) {
  SCPortConfig c = Config();
  c.verifyCts = 1;
  c.options = SC_OPTION_NO_DTR;
  const char byte[] = {0x41};
  const std::u16string warning = u"Warning: Timeout waiting CTS.";

  // A time-out of 0: the transmission starts at once, without CTS, and the warning is traced.
  c.ctsTimeout = 0;
  generic_port* port = Open(c);
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(SCSendTxBuf(port, byte, 1), 1);
  EXPECT_EQ(Traced().front(), warning);
  EXPECT_EQ(FakeSerialDevice::last->Events().back(), "write 41");
  SCPortClose(port);
  open_.clear();

  // CTS arriving within the time-out: the write waits for it, and nothing is traced about it.
  c.ctsTimeout = 5000;
  port = Open(c);
  ASSERT_NE(port, nullptr);
  FakeSerialDevice* device = FakeSerialDevice::last;
  std::atomic<bool> raised{false};
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    raised = true;
    device->SetCts(true, /*signalChange=*/true);
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(SCSendTxBuf(port, byte, 1), 1);
  EXPECT_TRUE(raised.load());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  peer.join();
  const auto lines = Traced();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), warning), 1);
}

TEST_F(SerialLibraryTest, TheEchoOfATransmissionIsCapturedAndNotDelivered) {
  SCPortConfig c = Config();
  c.rtsMode = SC_RTS_CONTROL_ECHO;
  generic_port* port = Open(c);
  ASSERT_NE(port, nullptr);
  SCInstallUserRoutine(port, RecordByte);
  FakeSerialDevice::last->set_echo(true);
  const char request[] = {0x41, 0x42};
  ASSERT_EQ(SCSendTxBuf(port, request, 2), 1);
  FakeSerialDevice::last->Inject({0x06});
  ASSERT_TRUE(WaitFor([] { return SeenCount() == 1; }));
  EXPECT_EQ(seen, std::vector<uint8_t>{0x06});
  ASSERT_TRUE(WaitFor([] {
    for (const auto& line : Traced()) {
      if (line == u"Rx Echo: 41 42 ") return true;
    }
    return false;
  }));
  EXPECT_EQ(SCSpaceUsedInRxBuffer(port), 1);
}

// More bytes than the receive buffer holds, without a transmission between: every byte is
// delivered once, in order, and the buffer keeps the newest.
TEST_F(SerialLibraryTest, AFullReceiveBufferGivesWayToTheNewestByte) {
  SCPortConfig c = Config();
  c.rxBufferSize = 1024;
  generic_port* port = Open(c);
  ASSERT_NE(port, nullptr);
  SCInstallUserRoutine(port, RecordByte);
  std::vector<uint8_t> bytes(3000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
  FakeSerialDevice::last->Inject(bytes);
  ASSERT_TRUE(WaitFor([&] { return SeenCount() == bytes.size(); }));
  EXPECT_EQ(seen, bytes);
  EXPECT_EQ(SCIsRxFull(port), 1);
  char out = 0;
  ASSERT_EQ(SCPeekChar(port, 0, &out), 1);
  EXPECT_EQ(static_cast<uint8_t>(out), bytes[3000 - 1024]);
  ASSERT_EQ(SCPeekLastChar(port, &out), 1);
  EXPECT_EQ(static_cast<uint8_t>(out), bytes.back());
  char first[3];
  EXPECT_EQ(SCReadBuffer(port, first, 3), 3);
  EXPECT_EQ(static_cast<uint8_t>(first[2]), bytes[3000 - 1024 + 2]);
  EXPECT_EQ(SCSpaceUsedInRxBuffer(port), 1021);
  SCClearRxBuffer(port);
  EXPECT_EQ(SCIsRxEmpty(port), 1);
}

TEST_F(SerialLibraryTest, TimeOutsOfAnExchangeOnTheTickCount) {
  SCSetTickSource(FakeTick);
  SCPortConfig c = Config();
  c.startTimeout = 500;
  c.endTimeout = 300;
  c.charTimeout = 100;
  generic_port* port = Open(c);
  ASSERT_NE(port, nullptr);
  SCInstallUserRoutine(port, RecordByte);
  const char request[] = {0x01};

  // No reply: the start time-out, counted from the end of the transmission.
  fakeTick = 10000;
  ASSERT_EQ(SCSendTxBuf(port, request, 1), 1);
  ASSERT_EQ(SCWaitTxEmpty(port), 1);
  fakeTick = 10500;
  SCVerifyTimeout(port);
  EXPECT_EQ(SCGetStatus(port), 0);
  fakeTick = 10501;
  SCVerifyTimeout(port);
  EXPECT_EQ(SCGetStatus(port), SC_STATUS_START_TIMEOUT);
  EXPECT_EQ(SCWaitMessage(port), 0);

  // A reply that stops: the gap between bytes.
  fakeTick = 20000;
  ASSERT_EQ(SCSendTxBuf(port, request, 1), 1);
  ASSERT_EQ(SCWaitTxEmpty(port), 1);
  FakeSerialDevice::last->Inject({0x41});
  ASSERT_TRUE(WaitFor([] { return SeenCount() == 1; }));
  fakeTick = 20101;
  SCVerifyTimeout(port);
  EXPECT_EQ(SCGetStatus(port), SC_STATUS_RX_CHAR_TIMEOUT);
  EXPECT_EQ(Traced().back(), u"Rx:41 ");

  // A reply that keeps coming: the end time-out from its first byte.
  fakeTick = 30000;
  ASSERT_EQ(SCSendTxBuf(port, request, 1), 1);
  ASSERT_EQ(SCWaitTxEmpty(port), 1);
  for (int i = 0; i < 4; ++i) {
    FakeSerialDevice::last->Inject({0x42});
    ASSERT_TRUE(WaitFor([i] { return SeenCount() == 2u + i; }));
    fakeTick += 90;
    SCVerifyTimeout(port);
  }
  EXPECT_EQ(SCGetStatus(port), SC_STATUS_END_TIMEOUT);

  // A complete reply ends the wait at once.
  fakeTick = 40000;
  ASSERT_EQ(SCSendTxBuf(port, request, 1), 1);
  SCSetMessageComplete(port, 1);
  ASSERT_EQ(SCWaitTxEmpty(port), 1);
  EXPECT_EQ(SCWaitMessage(port), 1);
}

// 2000 ms ÷ (baud ÷ 10) per transmission, never less than 60 ms.
TEST_F(SerialLibraryTest, ATransmissionThatNeverEndsTimesOut) {
  SCSetTickSource(FakeTick);
  struct Case {
    int32_t baud;
    uint32_t limit;
  };
  for (const Case& k : {Case{19200, 60}, Case{110, 181}}) {
    SCPortConfig c = Config();
    c.baudRate = k.baud;
    c.rtsMode = SC_RTS_CONTROL;
    generic_port* port = Open(c);
    ASSERT_NE(port, nullptr);
    FakeSerialDevice::last->set_holdTxEmpty(true);
    fakeTick = 5000;
    const char request[] = {0x01};
    ASSERT_EQ(SCSendTxBuf(port, request, 1), 1);
    fakeTick = 5000 + k.limit;
    SCVerifyTimeout(port);
    EXPECT_EQ(SCGetStatus(port), 0) << k.baud;
    fakeTick = 5001 + k.limit;
    SCVerifyTimeout(port);
    EXPECT_EQ(SCGetStatus(port), SC_STATUS_TX_CHAR_TIMEOUT) << k.baud;
    EXPECT_EQ(FakeSerialDevice::last->Events().back(), "RTS 0");
    SCPortClose(port);
    open_.clear();
  }
}

TEST_F(SerialLibraryTest, AFailedWriteIsReportedAndDropsRts) {
  SCPortConfig c = Config();
  c.rtsMode = SC_RTS_CONTROL;
  c.options = SC_OPTION_NO_DTR;
  generic_port* port = Open(c);
  ASSERT_NE(port, nullptr);
  SCInstallUserRoutine(port, RecordByte);
  FakeSerialDevice::last->set_failWrites(true);
  const char request[] = {0x01};
  EXPECT_EQ(SCSendTxBuf(port, request, 1), 0);
  EXPECT_EQ(SCGetStatus(port), SC_STATUS_TX_CHAR_TIMEOUT);
  EXPECT_EQ(SCIsTransmitting(port), 0);
  EXPECT_EQ(FakeSerialDevice::last->Events(),
            (std::vector<std::string>{"RTS 1", "write failed", "RTS 0"}));
  // The reader serves received bytes again.
  FakeSerialDevice::last->Inject({0x33});
  EXPECT_TRUE(WaitFor([] { return SeenCount() == 1; }));
  EXPECT_EQ(SCInitTx(port), 0);
  EXPECT_EQ(SCGetStatus(port), SC_STATUS_TX_EMPTY);
}

TEST(SerialLibraryTexts, StatusCodesHaveTheirTexts) {
  struct Case {
    int code;
    std::u16string text;
  };
  const Case cases[] = {
      {0, u"OK"},
      {-1, u"Invalid serial port"},
      {-7, u"Serial port already in use"},
      {-17, u"Timeout between rx char"},
      {-31, u"Framing, overrun and parity"},
      {-32, u"Timeout waiting a tx message to finish"},
      {-40, u"Status: -40"},
      {3, u"Status: 3"},
  };
  for (const Case& c : cases) {
    char16_t buffer[64];
    SCFormatErrorMessage(c.code, buffer, 64);
    EXPECT_EQ(std::u16string(buffer), c.text) << c.code;
  }
  char16_t small[5] = {u'x', u'x', u'x', u'x', u'x'};
  SCFormatErrorMessage(-7, small, 4);
  EXPECT_EQ(std::u16string(small), u"Ser");
  EXPECT_EQ(small[4], u'x');
}

TEST(SerialLibraryTexts, LineErrorsBecomeStatusCodes) {
  EXPECT_EQ(LineErrorToStatus(kErrorFraming | kErrorOverrun | kErrorParity), -31);
  EXPECT_EQ(LineErrorToStatus(kErrorFraming | kErrorOverrun), -29);
  EXPECT_EQ(LineErrorToStatus(kErrorFraming | kErrorParity), -30);
  EXPECT_EQ(LineErrorToStatus(kErrorFraming), -28);
  EXPECT_EQ(LineErrorToStatus(kErrorOverrun | kErrorParity), -27);
  EXPECT_EQ(LineErrorToStatus(kErrorOverrun), -25);
  EXPECT_EQ(LineErrorToStatus(kErrorParity), -26);
  EXPECT_EQ(LineErrorToStatus(0), -24);
}

TEST(SerialLibraryNullPort, EveryFunctionLeavesANullPortAlone) {
  char c = 1;
  EXPECT_EQ(SCSendTxBuf(nullptr, "a", 1), 0);
  EXPECT_EQ(SCPeekLastChar(nullptr, &c), 0);
  EXPECT_EQ(SCReadChar(nullptr, &c), 0);
  EXPECT_EQ(SCWriteChar(nullptr, 'a'), 0);
  EXPECT_EQ(SCWaitMessage(nullptr), 0);
  EXPECT_EQ(SCBreak(nullptr, 1), 0);
  SCVerifyTimeout(nullptr);
  SCPortClose(nullptr);
  SCClearRxBuffer(nullptr);
}

}  // namespace
}  // namespace perimo::serial
