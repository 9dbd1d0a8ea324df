#include "protocol/status_text.h"

#include <gtest/gtest.h>

namespace perimo {
namespace {

TEST(StatusText, NumberedAndPrivateTextsAreThere) {
  EXPECT_EQ(StatusText(kTextConnected), u"Connected to remote client");
  EXPECT_EQ(StatusText(kTextCloseSocket), u"Close Socket.");
  EXPECT_EQ(StatusText(kTextInvalidFrame), u"Invalid Frame");
  EXPECT_EQ(StatusText(kTextUncompressError), u"Error uncompressing file: %s");
  EXPECT_EQ(StatusText(12345), u"");
}

TEST(StatusText, PercentOneTakesTheArgumentEverywhere) {
  EXPECT_EQ(StatusText(kTextUpdatingFile, u"C:\\P\\a.app"), u"Updating file C:\\P\\a.app.");
  EXPECT_EQ(StatusText(kTextDeviceSerial, u"3"), u"Device connection via Serial Port (COM3)");
  // An argument holding "%1" is not expanded again.
  EXPECT_EQ(StatusText(kTextFileUpdated, u"%1"), u"%1 was updated with success.");
}

TEST(StatusText, PrintfStyleTextsFormatAsOnWindows) {
  EXPECT_EQ(FormatStatusText(kTextInvalidBlockSize, {0u, 5u}), u"Invalid block size: 0, 5.");
  EXPECT_EQ(FormatStatusText(kTextReceiveBufferReduced, {880, 2383}),
            u"Fail to set buffer size to 880KB, package size will be reduced to: 2383B");
  // "%ul" prints the number followed by the letter l.
  EXPECT_EQ(FormatStatusText(kTextSendFailed, {104u}), u"Couldn't send message. Error = 104l");
  EXPECT_EQ(FormatStatusText(kTextPostMessage, {1024u, 5u, -1}),
            u"Post message (1024, 5, -1) to the Runtime.");
  EXPECT_EQ(FormatStatusText(kTextWindowStopped, {u"Calc"}), u"'Calc' was stopped!");
  // %u of a negative 32-bit value wraps like a DWORD.
  EXPECT_EQ(FormatText(u"%u", {-1}), u"4294967295");
  EXPECT_EQ(FormatText(u"%02X|%-3d|%5s|%%", {10u, 7, u"ab"}), u"0A|7  |   ab|%");
}

TEST(StatusText, MalformedFormatsNeverReadPastTheirArguments) {
  EXPECT_EQ(FormatText(u"a %d b %d", {1}), u"a 1 b ");
  EXPECT_EQ(FormatText(u"trailing %", {}), u"trailing %");
  EXPECT_EQ(FormatText(u"%q %999999999d", {1}), u"%q " + std::u16string(4096 - 1, u' ') + u"1");
}

TEST(StatusText, SerialStatusCodesMapToTheirTexts) {
  EXPECT_EQ(SerialStatusText(0), u"OK");
  EXPECT_EQ(SerialStatusText(-7), u"Serial port already in use");
  EXPECT_EQ(SerialStatusText(-32), u"Timeout waiting a tx message to finish");
  EXPECT_EQ(SerialStatusText(-33), u"Status: -33");
  EXPECT_EQ(SerialStatusText(4), u"Status: 4");
}

TEST(StatusText, ALanguageSourceOverridesAndFallsBack) {
  SetStatusTextSource([](int id, std::u16string& out) {
    if (id != kTextConnected) return false;
    out = u"Verbunden";
    return true;
  });
  EXPECT_EQ(StatusText(kTextConnected), u"Verbunden");
  EXPECT_EQ(StatusText(kTextNotConnected), u"Not connected to remote client");
  SetStatusTextSource({});
  EXPECT_EQ(StatusText(kTextConnected), u"Connected to remote client");
}

}  // namespace
}  // namespace perimo
