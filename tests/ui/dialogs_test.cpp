#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "protocol/dialog_resources.h"
#include "protocol/status_text.h"
#include "ui/edit_user_dialog.h"
#include "ui/serial_dialog.h"
#include "ui/setup_dialog.h"
#include "ui/user_list_dialog.h"
#include "widget_test_support.h"

namespace perimo {
namespace {

using test::AgentFolder;
using test::ScriptedAnswers;

QStringList Entries(QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

TEST(SerialDialog, ListKeepsNumericOrderAndUnknownRateStoresTheDefault) {
  CDlgSerialProp known(9600, 1, 0);
  auto* list = known.ControlAs<QComboBox>(115);
  ASSERT_EQ(list->count(), 15);
  EXPECT_EQ(list->itemText(0), "   110");
  EXPECT_EQ(list->itemText(12), "115200");
  EXPECT_EQ(list->currentText(), "  9600");
  EXPECT_TRUE(known.ControlAs<QCheckBox>(133)->isChecked());
  known.ControlAs<QCheckBox>(135)->setChecked(true);
  known.accept();
  EXPECT_EQ(known.result(), QDialog::Accepted);
  EXPECT_EQ(known.baud(), 9600);
  EXPECT_EQ(known.rts(), 1);
  EXPECT_EQ(known.cts(), 1);

  CDlgSerialProp unknown(20000, 0, 0);
  EXPECT_EQ(unknown.ControlAs<QComboBox>(115)->currentIndex(), -1);
  unknown.accept();
  EXPECT_EQ(unknown.baud(), 19200);
}

class SetupDialogTest : public ::testing::Test {
 protected:
  SetupHooks Hooks() {
    SetupHooks h;
    h.ask = answers.Fn();
    h.addStatusLine = [this](std::u16string_view t) { lines.emplace_back(t); };
    h.probePort = [this](int port) {
      probed.push_back(port);
      return port == 1 || port == 5;
    };
    h.runSerial = [this](QWidget*, int32_t, int32_t, int32_t) { return serialResult; };
    h.runUserList = [this](QWidget*) { ++userLists; };
    h.dataProtection = library;
    return h;
  }

  AgentFolder folder;
  ScriptedAnswers answers;
  std::vector<std::u16string> lines;
  std::vector<int> probed;
  std::optional<std::array<int32_t, 3>> serialResult;
  int userLists = 0;
  DataProtectionLibrary* library = nullptr;
};

TEST_F(SetupDialogTest, ConfiguredPortIsListedWithoutProbingAndSelected) {
  folder.agent.settings.device = 0;
  folder.agent.settings.serialPort = 2;
  CDlgSetup setup(folder.agent, Hooks());
  EXPECT_EQ(std::count(probed.begin(), probed.end(), 3), 0);
  auto* ports = setup.ControlAs<QComboBox>(112);
  EXPECT_EQ(Entries(ports), QStringList({"COM1", "COM3", "COM5"}));
  EXPECT_EQ(ports->currentText(), "COM3");
  EXPECT_TRUE(setup.ControlAs<QRadioButton>(109)->isChecked());
  EXPECT_FALSE(setup.ControlAs<QRadioButton>(116)->isEnabled());
  EXPECT_TRUE(setup.ControlAs<QCheckBox>(120)->isHidden());
  EXPECT_TRUE(setup.ControlAs<QCheckBox>(146)->isHidden());
}

TEST_F(SetupDialogTest, DeviceChoiceEnablesTheSerialControlsAtOnce) {
  CDlgSetup setup(folder.agent, Hooks());
  auto* advanced = setup.ControlAs<QPushButton>(126);
  auto* ports = setup.ControlAs<QComboBox>(112);
  EXPECT_FALSE(advanced->isEnabled());
  EXPECT_FALSE(ports->isEnabled());
  QTest::mouseClick(setup.ControlAs<QRadioButton>(109), Qt::LeftButton);
  EXPECT_TRUE(advanced->isEnabled());
  EXPECT_TRUE(ports->isEnabled());
  QTest::mouseClick(setup.ControlAs<QRadioButton>(113), Qt::LeftButton);
  EXPECT_FALSE(advanced->isEnabled());
}

TEST_F(SetupDialogTest, OkStoresEveryKeyAndCancelStoresNothing) {
  {
    CDlgSetup setup(folder.agent, Hooks());
    setup.ControlAs<QRadioButton>(109)->setChecked(true);
    setup.ControlAs<QComboBox>(112)->setCurrentText("COM5");
    setup.reject();
  }
  EXPECT_EQ(folder.ReadSettings(), "");
  EXPECT_EQ(folder.agent.settings.device, 1);

  CDlgSetup setup(folder.agent, Hooks());
  setup.ControlAs<QRadioButton>(109)->setChecked(true);
  auto* ports = setup.ControlAs<QComboBox>(112);
  ASSERT_EQ(Entries(ports), QStringList({"COM1", "COM5"}));
  ports->setCurrentIndex(1);
  setup.accept();
  EXPECT_EQ(folder.agent.settings.device, 0);
  EXPECT_EQ(folder.agent.settings.serialPort, 4);
  const std::string ini = folder.ReadSettings();
  for (const char* line : {"Device=0", "SerialPort=4", "SerialBaudRate=19200", "SerialRTS=0",
                           "SerialCTS=0", "RunLumoraOnStartup=1", "LockDownload=0"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
  }
}

TEST_F(SetupDialogTest, AdvancedValuesStayInMemoryWhenSetupIsCancelled) {
  serialResult = std::array<int32_t, 3>{9600, 1, 1};
  CDlgSetup setup(folder.agent, Hooks());
  setup.OnAdvanced();
  setup.reject();
  EXPECT_EQ(folder.agent.settings.serialBaud, 9600);
  EXPECT_EQ(folder.agent.settings.serialRts, 1);
  EXPECT_EQ(folder.ReadSettings(), "");
  setup.OnUsers();
  EXPECT_EQ(userLists, 1);
}

class FakeDataProtection : public DataProtectionLibrary {
 public:
  bool present = true;
  int32_t initResult = 0;
  std::u16string projectDir;
  int configured = 0;
  bool Prepare() override { return present; }
  int32_t Initialize(void*, std::u16string_view dir, int32_t) override {
    projectDir = dir;
    return initResult;
  }
  int32_t State() override { return 7; }
  void Configure(void*) override { ++configured; }
};

TEST_F(SetupDialogTest, DataProtectionNeedsAProjectAndReportsAFailedStart) {
  FakeDataProtection fake;
  library = &fake;
  {
    CDlgSetup setup(folder.agent, Hooks());
    setup.OnDataProtection();
  }
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0], StatusText(kTextNoActiveProject));
  EXPECT_EQ(fake.configured, 0);

  folder.WriteFile("CEApp.INI", "[Application]\nDirectory=C:\\Proj\\Plant\\\n");
  CDlgSetup setup(folder.agent, Hooks());
  setup.OnDataProtection();
  EXPECT_EQ(fake.projectDir, u"C:\\Proj\\Plant\\");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], u"Error to initialize Data Protection [State: 7]");
  EXPECT_EQ(fake.configured, 1);

  fake.present = false;
  setup.OnDataProtection();
  EXPECT_EQ(answers.asked.back(), StatusText(kTextDataProtectionAbsent));
  EXPECT_EQ(fake.configured, 1);
}

class UserDialogsTest : public ::testing::Test {
 protected:
  // The editor's answer for the next Add or Edit; nullopt cancels it.
  std::optional<UserAccount> next;
  EditUserFn Editor() {
    return [this](QWidget*, const UserAccount& shown) {
      this->shown = shown;
      return next;
    };
  }
  AgentFolder folder;
  ScriptedAnswers answers;
  UserAccount shown;
};

TEST_F(UserDialogsTest, ClearingSecurityAsksAndNoKeepsItOn) {
  folder.agent.login.securityEnabled = true;
  CDlgUserList list(folder.agent, answers.Fn(), Editor());
  auto* box = list.ControlAs<QCheckBox>(129);
  answers.answers = {MessageBoxAnswer::kNo};
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(folder.agent.login.securityEnabled);
  EXPECT_EQ(answers.asked.back(), StatusText(kTextDisableSecurityWarning));

  answers.answers = {MessageBoxAnswer::kYes};
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_FALSE(folder.agent.login.securityEnabled);
  for (uint32_t id : {117, 119, 121}) EXPECT_FALSE(list.ControlAs<QPushButton>(id)->isEnabled());
  EXPECT_FALSE(list.ControlAs<QListWidget>(114)->isEnabled());
  QTest::mouseClick(box, Qt::LeftButton);  // ticking asks nothing
  EXPECT_TRUE(folder.agent.login.securityEnabled);
  EXPECT_EQ(answers.asked.size(), 2u);
}

TEST_F(UserDialogsTest, AddTrimsTheNameAndRefusesItsOtherCase) {
  folder.agent.login.securityEnabled = true;
  CDlgUserList list(folder.agent, answers.Fn(), Editor());
  next = UserAccount{u" bob ", u"pw", {1, 0, 1, 0, 1}};
  list.OnAdd();
  EXPECT_EQ(shown.rights, (Rights{1, 1, 1, 1, 1}));  // a new user starts with every right
  ASSERT_EQ(folder.agent.users.size(), 1u);
  EXPECT_EQ(folder.agent.users[0].userName, u"bob");
  EXPECT_EQ(list.ControlAs<QListWidget>(114)->item(0)->text(), "bob");
  next = UserAccount{u"BOB", u"x", {1, 1, 1, 1, 1}};
  list.OnAdd();
  EXPECT_EQ(folder.agent.users.size(), 1u);
  EXPECT_EQ(answers.asked.back(), StatusText(kTextUserExists));
  next.reset();
  list.OnAdd();
  EXPECT_EQ(folder.agent.users.size(), 1u);
}

TEST_F(UserDialogsTest, EditChangesPasswordAndRightsAndRemoveTakesTheAccount) {
  folder.agent.login.securityEnabled = true;
  folder.agent.users = {{u"alice", u"a", {1, 1, 1, 1, 1}}, {u"bob", u"b", {0, 0, 0, 0, 0}}};
  CDlgUserList list(folder.agent, answers.Fn(), Editor());
  auto* names = list.ControlAs<QListWidget>(114);
  EXPECT_FALSE(list.ControlAs<QPushButton>(121)->isEnabled());  // nothing selected
  names->setCurrentRow(1);
  EXPECT_TRUE(list.ControlAs<QPushButton>(121)->isEnabled());
  next = UserAccount{u"renamed", u"new", {1, 0, 0, 0, 1}};
  list.OnEdit();
  EXPECT_EQ(shown.password, u"b");
  EXPECT_EQ(folder.agent.users[1].userName, u"bob");
  EXPECT_EQ(folder.agent.users[1].password, u"new");
  EXPECT_EQ(folder.agent.users[1].rights, (Rights{1, 0, 0, 0, 1}));
  names->setCurrentRow(0);
  list.OnRemove();
  ASSERT_EQ(folder.agent.users.size(), 1u);
  EXPECT_EQ(folder.agent.users[0].userName, u"bob");
  EXPECT_EQ(names->count(), 1);
}

TEST_F(UserDialogsTest, AddIsOfferedUpTo256ListedUsers) {
  folder.agent.login.securityEnabled = true;
  for (int i = 0; i < 256; ++i) {
    folder.agent.users.push_back({u"u" + QString::number(i).toStdU16String(), u"", {}});
  }
  CDlgUserList list(folder.agent, answers.Fn(), Editor());
  EXPECT_TRUE(list.ControlAs<QPushButton>(117)->isEnabled());
  next = UserAccount{u"one more", u"", {1, 1, 1, 1, 1}};
  list.OnAdd();
  EXPECT_FALSE(list.ControlAs<QPushButton>(117)->isEnabled());
}

TEST_F(UserDialogsTest, EditorStaysOpenUntilTheEntriesAreAcceptable) {
  const UserList existing = {{u"alice", u"a", {1, 1, 1, 1, 1}}};
  struct Row {
    const char* name;
    const char* password;
    const char* confirm;
    int message;  // 0: accepted
  };
  const Row rows[] = {{"   ", "", "", kTextInvalidUserName},
                      {" ALICE", "", "", kTextUserExists},
                      {"carol", "pw", "PW", kTextPasswordsDiffer},
                      {" carol ", "pw", "pw", 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ScriptedAnswers said;
    CDlgEditUser editor(existing, UserAccount{u"", u"", {1, 1, 1, 1, 1}}, said.Fn());
    EXPECT_FALSE(editor.ControlAs<QLineEdit>(106)->isReadOnly());
    EXPECT_EQ(editor.ControlAs<QLineEdit>(108)->maxLength(), 32);
    editor.ControlAs<QLineEdit>(106)->setText(r.name);
    editor.ControlAs<QLineEdit>(108)->setText(r.password);
    editor.ControlAs<QLineEdit>(111)->setText(r.confirm);
    editor.ControlAs<QCheckBox>(132)->setChecked(false);
    editor.accept();
    if (r.message) {
      ASSERT_EQ(said.asked.size(), 1u);
      EXPECT_EQ(said.asked[0], StatusText(r.message));
      EXPECT_NE(editor.result(), QDialog::Accepted);
    } else {
      EXPECT_TRUE(said.asked.empty());
      EXPECT_EQ(editor.result(), QDialog::Accepted);
      EXPECT_EQ(editor.account().userName, u"carol");
      EXPECT_EQ(editor.account().rights, (Rights{1, 0, 1, 1, 1}));
    }
  }
  CDlgEditUser existingUser(existing, existing[0], {});
  EXPECT_TRUE(existingUser.ControlAs<QLineEdit>(106)->isReadOnly());
  EXPECT_EQ(existingUser.ControlAs<QLineEdit>(111)->text(), "a");
}

TEST(DialogLanguage, DialogTextsComeFromTheLoadedPack) {
  ResourceSet pack;
  pack.dialogs[kDialogSetup].title = u"Einrichtung";
  pack.dialogs[kDialogSetup].items = {{126, kClassButton, 0, 0, 0, 0, 0, 0, u"&Erweitert..."}};
  SetLanguageResources(std::make_shared<const ResourceSet>(pack));
  AgentFolder folder;
  SetupHooks hooks;
  hooks.probePort = [](int) { return false; };
  CDlgSetup setup(folder.agent, hooks);
  SetLanguageResources(nullptr);
  EXPECT_EQ(setup.windowTitle(), "Einrichtung");
  EXPECT_EQ(setup.ControlAs<QPushButton>(126)->text(), "&Erweitert...");
  EXPECT_EQ(setup.ControlAs<QPushButton>(100)->text(), "&Users...");
}

}  // namespace
}  // namespace perimo
