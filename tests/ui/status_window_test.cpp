#include "ui/status_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "protocol/status_text.h"
#include "ui/connection_texts.h"
#include "widget_test_support.h"

namespace perimo {
namespace {

using test::AgentFolder;
using test::ScriptedAnswers;

class StatusWindowTest : public ::testing::Test {
 protected:
  std::unique_ptr<CStatusDlg> Make(bool tray = true) {
    StatusWindowHooks hooks;
    hooks.ask = answers.Fn();
    hooks.exitAgent = [this] { ++exits; };
    hooks.showAbout = [this] { ++abouts; };
    hooks.addresses = [this] { return addresses; };
    hooks.trayAvailable = [tray] { return tray; };
    return std::make_unique<CStatusDlg>(folder.agent, std::move(hooks));
  }
  QString Text(CStatusDlg& w, uint32_t id) {
    if (auto* e = w.ControlAs<QLineEdit>(id)) return e->text();
    if (auto* l = w.ControlAs<QLabel>(id)) return l->text();
    if (auto* b = w.ControlAs<QPushButton>(id)) return b->text();
    return "?";
  }

  AgentFolder folder;
  ScriptedAnswers answers;
  std::vector<std::string> addresses{"192.0.2.7"};
  int exits = 0;
  int abouts = 0;
};

TEST_F(StatusWindowTest, ControlsCarryTheirIdsTextsAndTheDefaultButton) {
  auto w = Make();
  EXPECT_EQ(w->windowTitle(), "Remote Agent (v7.12)");
  struct Row {
    uint32_t id;
    const char* text;
  };
  for (const Row& r : {Row{110, "&Start"}, Row{123, "E&xit"}, Row{107, "S&etup"}}) {
    auto* b = w->findChild<QPushButton*>(QString::number(r.id));
    ASSERT_TRUE(b) << r.id;
    EXPECT_EQ(b->text(), r.text);
    EXPECT_EQ(b->isDefault(), r.id == 110);
  }
  EXPECT_TRUE(w->findChild<QLineEdit*>("104")->isReadOnly());
  EXPECT_TRUE(w->findChild<QPlainTextEdit*>("105")->isReadOnly());
  EXPECT_TRUE(w->findChild<QLabel*>("118"));
  EXPECT_EQ(Text(*w, 145), "IP(s): 192.0.2.7");
}

TEST_F(StatusWindowTest, LogViewEmptiesOnceItHoldsMoreThanTheLimit) {
  auto w = Make();
  w->AddStatusLine(u"first");
  w->AddStatusLine(u"second");
  EXPECT_EQ(w->logText(), u"first\r\r\nsecond\r\r\n");
  EXPECT_EQ(w->ControlAs<QPlainTextEdit>(105)->toPlainText(), "first\nsecond\n");

  // 16383 characters exactly stay; one more and the next line stands alone.
  auto fresh = Make();
  const std::u16string line(16380, u'x');
  fresh->AddStatusLine(line);
  ASSERT_EQ(fresh->logText().size(), kLogViewLimit);
  fresh->AddStatusLine(u"kept");
  EXPECT_EQ(fresh->logText().size(), kLogViewLimit + 7);
  fresh->AddStatusLine(u"alone");
  EXPECT_EQ(fresh->logText(), u"alone\r\r\n");
  EXPECT_EQ(fresh->ControlAs<QPlainTextEdit>(105)->toPlainText(), "alone\n");
}

TEST_F(StatusWindowTest, ConnectionLinesFollowDeviceAndConnection) {
  struct Row {
    int32_t device;
    const char* typeLine;
    bool ipShown;
  };
  const Row rows[] = {{0, "Device connection via Serial Port (COM3)", false},
                      {1, "Device connection via Network (TCP/IP)", true},
                      {2, "Device connection via Infra Red", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.device);
    folder.agent.settings.device = r.device;
    folder.agent.settings.serialPort = 2;
    auto w = Make();
    EXPECT_EQ(Text(*w, 118), r.typeLine);
    EXPECT_EQ(!w->ControlAs<QLineEdit>(145)->isHidden(), r.ipShown);
    if (!r.ipShown) {
      EXPECT_EQ(Text(*w, 145), "");
    }
  }
  auto w = Make();
  w->SetConnectionStatus(StatusText(kTextConnected));
  EXPECT_EQ(Text(*w, 104), "Connected to remote client");
  w->SetConnectionStatus(StatusText(kTextNotConnected));
  EXPECT_EQ(Text(*w, 104), "Not connected to remote client");
}

TEST_F(StatusWindowTest, IpLineRetriesEverySecondUntilAnAddressIsKnown) {
  addresses.clear();
  auto w = Make();
  EXPECT_EQ(Text(*w, 145), "IP(s): not specified");
  EXPECT_TRUE(w->ipRetry());
  const uint32_t start = 0xFFFFFE00;  // the tick count wraps in between
  w->OnTimerTick(start);
  addresses = {"192.0.2.7", "2001:db8::1"};
  w->OnTimerTick(start + 999);
  EXPECT_EQ(Text(*w, 145), "IP(s): not specified");
  w->OnTimerTick(start + 1000);
  EXPECT_EQ(Text(*w, 145), "IP(s): 192.0.2.7, 2001:db8::1");
  EXPECT_FALSE(w->ipRetry());
}

TEST_F(StatusWindowTest, EnterAndEscapeHideTheWindowAndCloseAsksFirst) {
  auto w = Make();
  for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
    w->show();
    QTest::keyClick(w.get(), static_cast<Qt::Key>(key));
    EXPECT_FALSE(w->isVisible());
  }
  w->show();
  answers.answers = {MessageBoxAnswer::kNo, MessageBoxAnswer::kYes};
  w->close();
  EXPECT_EQ(exits, 0);
  EXPECT_TRUE(w->isVisible());
  QTest::mouseClick(w->ControlAs<QPushButton>(123), Qt::LeftButton);
  EXPECT_EQ(exits, 1);
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_EQ(answers.asked[0], u"Are you sure you want to exit?");
}

TEST_F(StatusWindowTest, WithoutNotificationAreaEscapeMinimisesAndSaysSoOnce) {
  auto w = Make(false);
  EXPECT_FALSE(w->hasNotificationArea());
  EXPECT_EQ(w->logText(), StatusText(kTextNoNotificationArea) + u"\r\r\n");
  w->show();
  QTest::keyClick(w.get(), Qt::Key_Escape);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->isMinimized());
}

TEST_F(StatusWindowTest, PositionSettingsMoveTheWindow) {
  folder.agent.settings.positionLeft = 100;
  auto w = Make();
  EXPECT_EQ(w->pos(), QPoint(100, -32000));
  folder.agent.settings.positionLeft = -32000;
  auto unmoved = Make();
  EXPECT_NE(unmoved->pos(), QPoint(-32000, -32000));
}

TEST_F(StatusWindowTest, NotificationIconShowsTheWindowAndOffersAboutAndExit) {
  auto w = Make(true);
  ASSERT_TRUE(w->trayMenu());
  const auto actions = w->trayMenu()->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), "&About");
  EXPECT_EQ(w->trayMenu()->defaultAction(), actions[0]);
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), "E&xit");
  EXPECT_EQ(w->trayIcon()->toolTip(), "Remote Agent (v7.12)");

  w->hide();
  w->OnTrayActivated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(w->isVisible());
  w->OnTrayActivated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(abouts, 1);
  actions[2]->trigger();
  EXPECT_EQ(exits, 1);
}

TEST(ConnectionSettings, TransportReopensOnlyOnARealChange) {
  AgentSettings serial;
  serial.device = 0;
  AgentSettings tcp;
  tcp.device = 1;
  const auto with = [](AgentSettings s, auto change) {
    change(s);
    return s;
  };
  struct Row {
    const char* what;
    AgentSettings before, after;
    bool reopen;
  };
  const Row rows[] = {
      {"serial, nothing changed", serial, serial, false},
      {"serial, baud rate", serial, with(serial, [](auto& s) { s.serialBaud = 9600; }), true},
      {"serial, port", serial, with(serial, [](auto& s) { s.serialPort = 1; }), true},
      {"serial, CTS", serial, with(serial, [](auto& s) { s.serialCts = 1; }), true},
      {"TCP, nothing changed", tcp, tcp, false},
      {"TCP, serial values only", tcp, with(tcp, [](auto& s) { s.serialBaud = 9600; }), false},
      {"TCP to serial", tcp, serial, true},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(TransportNeedsReopen(r.before, r.after), r.reopen) << r.what;
  }
}

}  // namespace
}  // namespace perimo
