// Pictures of every window, for a person to look at: build/pictures/<name>.png.
#include <gtest/gtest.h>

#include <QPixmap>
#include <memory>

#include "protocol/status_text.h"
#include "ui/about_dialog.h"
#include "ui/edit_user_dialog.h"
#include "ui/serial_dialog.h"
#include "ui/setup_dialog.h"
#include "ui/status_window.h"
#include "ui/user_list_dialog.h"
#include "widget_test_support.h"

namespace perimo {
namespace {

void Save(QWidget& w, const char* name) {
  w.adjustSize();
  const QPixmap picture = w.grab();
  const QString path = QString::fromStdString(test::PicturesFolder()) + "/" + name + ".png";
  EXPECT_FALSE(picture.isNull()) << name;
  EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
}

TEST(Pictures, EveryWindow) {
  test::AgentFolder folder;
  AgentState& agent = folder.agent;
  agent.users = {{u"alice", u"secret", {1, 1, 1, 1, 1}}, {u"bob", u"pw", {1, 0, 1, 0, 1}}};
  agent.login.securityEnabled = true;

  StatusWindowHooks hooks;
  hooks.addresses = [] { return std::vector<std::string>{"192.0.2.7", "2001:db8::7"}; };
  hooks.trayAvailable = [] { return false; };
  CStatusDlg status(agent, hooks);
  status.SetConnectionStatus(StatusText(kTextConnected));
  status.AddStatusLine(StatusText(kTextUpdatingFile, u"C:\\Proj\\Plant\\Main.APP"));
  status.AddStatusLine(StatusText(kTextFileUpdated, u"C:\\Proj\\Plant\\Main.APP"));
  status.AddStatusLine(StatusText(kTextRuntimeStarted));
  Save(status, "status-window");

  CAboutDlg about(agent.title, u"perimo", u"");
  Save(about, "about");

  SetupHooks setupHooks;
  setupHooks.probePort = [](int port) { return port <= 2; };
  CDlgSetup setup(agent, setupHooks);
  Save(setup, "setup");

  CDlgSerialProp serial(19200, 1, 0);
  Save(serial, "serial-advanced");

  CDlgUserList users(agent, {}, [](QWidget*, const UserAccount&) { return std::nullopt; });
  Save(users, "user-list");

  CDlgEditUser editor(agent.users, agent.users[1], {});
  Save(editor, "user");
}

}  // namespace
}  // namespace perimo
