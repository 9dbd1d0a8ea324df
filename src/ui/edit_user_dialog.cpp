#include "ui/edit_user_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include "protocol/dialog_resources.h"

#include "protocol/status_text.h"

namespace perimo {
namespace {

constexpr uint32_t kName = 106, kPassword = 108, kConfirm = 111;
constexpr uint32_t kRightBoxes[5] = {131, 132, 134, 136, 138};

}  // namespace

CDlgEditUser::CDlgEditUser(const UserList& existing, const UserAccount& account, MessageBoxFn ask,
                           QWidget* parent)
    : TemplateDialog(kDialogEditUser, parent),
      existing_(existing),
      account_(account),
      ask_(std::move(ask)),
      isNew_(account.userName.empty()) {
  for (uint32_t id : {kName, kPassword, kConfirm}) {
    if (auto* edit = ControlAs<QLineEdit>(id)) edit->setMaxLength(kMaxUserNameChars);
  }
  ControlAs<QLineEdit>(kName)->setText(ToQString(account.userName));
  ControlAs<QLineEdit>(kName)->setReadOnly(!isNew_);
  ControlAs<QLineEdit>(kPassword)->setText(ToQString(account.password));
  ControlAs<QLineEdit>(kConfirm)->setText(ToQString(account.password));
  for (int i = 0; i < 5; ++i) {
    ControlAs<QCheckBox>(kRightBoxes[i])->setChecked(account.rights[static_cast<size_t>(i)] != 0);
  }
  connect(ControlAs<QPushButton>(1), &QPushButton::clicked, this, &CDlgEditUser::accept);
  connect(ControlAs<QPushButton>(2), &QPushButton::clicked, this, &QDialog::reject);
}

void CDlgEditUser::accept() {
  const auto say = [this](int textId) {
    if (ask_) ask_(this, StatusText(textId), MessageBoxKind::kOk, MessageBoxIcon::kNone);
  };
  std::u16string name = ToU16(ControlAs<QLineEdit>(kName)->text());
  if (isNew_) {
    name = ToU16(ToQString(name).trimmed());
    if (name.empty()) {
      say(kTextInvalidUserName);
      return;
    }
    if (FindUser(existing_, name)) {
      say(kTextUserExists);
      return;
    }
  }
  const std::u16string password = ToU16(ControlAs<QLineEdit>(kPassword)->text());
  if (password != ToU16(ControlAs<QLineEdit>(kConfirm)->text())) {
    say(kTextPasswordsDiffer);
    return;
  }
  account_.userName = name;
  account_.password = password;
  for (int i = 0; i < 5; ++i) {
    account_.rights[static_cast<size_t>(i)] = ControlAs<QCheckBox>(kRightBoxes[i])->isChecked();
  }
  QDialog::accept();
}

}  // namespace perimo
