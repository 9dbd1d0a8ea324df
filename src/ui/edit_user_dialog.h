#pragma once
// One account: its name (writable only for a new user), password with confirmation, and the
// five rights. OK stays open with a message while the entries are not acceptable.
#include "security/users.h"
#include "ui/message_box.h"
#include "ui/template_dialog.h"

namespace perimo {

class CDlgEditUser : public TemplateDialog {
  Q_OBJECT

 public:
  // A new user has an empty name and every right.
  CDlgEditUser(const UserList& existing, const UserAccount& account, MessageBoxFn ask,
               QWidget* parent = nullptr);

  const UserAccount& account() const { return account_; }

 public slots:
  void accept() override;

 private:
  const UserList& existing_;
  UserAccount account_;
  MessageBoxFn ask_;
  bool isNew_;
};

}  // namespace perimo
