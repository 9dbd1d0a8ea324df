#include "ui/user_list_dialog.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include "protocol/dialog_resources.h"

#include "protocol/status_text.h"
#include "ui/edit_user_dialog.h"

namespace perimo {
namespace {

constexpr uint32_t kSecurity = 129, kList = 114, kAdd = 117, kRemove = 119, kEdit = 121;

UserList::iterator FindAccount(UserList& users, std::u16string_view name) {
  const UserAccount* found = FindUser(users, name);
  return found ? users.begin() + (found - users.data()) : users.end();
}

}  // namespace

CDlgUserList::CDlgUserList(AgentState& agent, MessageBoxFn ask, EditUserFn editUser,
                           QWidget* parent)
    : TemplateDialog(kDialogUserList, parent),
      agent_(agent),
      ask_(std::move(ask)),
      editUser_(std::move(editUser)) {
  if (!editUser_) {
    editUser_ = [this](QWidget* p, const UserAccount& account) -> std::optional<UserAccount> {
      CDlgEditUser editor(agent_.users, account, ask_, p);
      if (editor.exec() != QDialog::Accepted) return std::nullopt;
      return editor.account();
    };
  }
  ControlAs<QCheckBox>(kSecurity)->setChecked(agent_.login.securityEnabled);
  auto* list = ControlAs<QListWidget>(kList);
  for (const UserAccount& u : agent_.users) list->addItem(ToQString(u.userName));
  connect(ControlAs<QCheckBox>(kSecurity), &QCheckBox::clicked, this,
          &CDlgUserList::OnSecurityClicked);
  connect(list, &QListWidget::currentRowChanged, this, &CDlgUserList::UpdateButtons);
  connect(list, &QListWidget::itemDoubleClicked, this, &CDlgUserList::OnEdit);
  connect(ControlAs<QPushButton>(kAdd), &QPushButton::clicked, this, &CDlgUserList::OnAdd);
  connect(ControlAs<QPushButton>(kRemove), &QPushButton::clicked, this, &CDlgUserList::OnRemove);
  connect(ControlAs<QPushButton>(kEdit), &QPushButton::clicked, this, &CDlgUserList::OnEdit);
  connect(ControlAs<QPushButton>(1), &QPushButton::clicked, this, &QDialog::accept);
  UpdateButtons();
}

void CDlgUserList::UpdateButtons() {
  const bool on = ControlAs<QCheckBox>(kSecurity)->isChecked();
  auto* list = ControlAs<QListWidget>(kList);
  const bool selected = list->currentRow() >= 0;
  list->setEnabled(on);
  ControlAs<QPushButton>(kRemove)->setEnabled(on && selected);
  ControlAs<QPushButton>(kEdit)->setEnabled(on && selected);
  ControlAs<QPushButton>(kAdd)->setEnabled(on && list->count() <= kMaxListedUsersForAdd);
}

void CDlgUserList::OnSecurityClicked() {
  auto* box = ControlAs<QCheckBox>(kSecurity);
  if (!box->isChecked()) {
    const MessageBoxAnswer answer = ask_
                                        ? ask_(this, StatusText(kTextDisableSecurityWarning),
                                               MessageBoxKind::kYesNo, MessageBoxIcon::kExclamation)
                                        : MessageBoxAnswer::kNo;
    if (answer != MessageBoxAnswer::kYes) {
      box->setChecked(true);
      return;
    }
  }
  UpdateButtons();
  agent_.login.securityEnabled = box->isChecked();
}

void CDlgUserList::OnAdd() {
  const std::optional<UserAccount> added = editUser_(this, UserAccount{u"", u"", {1, 1, 1, 1, 1}});
  if (added) {
    const std::u16string name = ToU16(ToQString(added->userName).trimmed());
    if (FindUser(agent_.users, name)) {
      if (ask_) ask_(this, StatusText(kTextUserExists), MessageBoxKind::kOk, MessageBoxIcon::kNone);
    } else if (!name.empty()) {
      ControlAs<QListWidget>(kList)->addItem(ToQString(name));
      agent_.users.push_back({name, added->password, added->rights});
    }
  }
  UpdateButtons();
}

void CDlgUserList::OnRemove() {
  auto* list = ControlAs<QListWidget>(kList);
  const int row = list->currentRow();
  if (row >= 0) {
    const std::u16string name = ToU16(list->item(row)->text());
    delete list->takeItem(row);
    const auto it = FindAccount(agent_.users, name);
    if (it != agent_.users.end()) agent_.users.erase(it);
  }
  UpdateButtons();
}

void CDlgUserList::OnEdit() {
  auto* list = ControlAs<QListWidget>(kList);
  const int row = list->currentRow();
  if (row >= 0) {
    const auto it = FindAccount(agent_.users, ToU16(list->item(row)->text()));
    if (it != agent_.users.end()) {
      if (const auto edited = editUser_(this, *it)) {
        it->password = edited->password;
        it->rights = edited->rights;
      }
    }
  }
  UpdateButtons();
}

}  // namespace perimo
