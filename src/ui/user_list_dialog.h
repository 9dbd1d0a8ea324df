#pragma once
// The security switch and the accounts. Changes reach the agent's user list and security
// state at once; the caller writes the users file after the dialog closes.
#include <functional>
#include <optional>

#include "protocol/agent_state.h"
#include "ui/message_box.h"
#include "ui/template_dialog.h"

namespace perimo {

// Runs the user editor for a new account (account empty) or an existing one; nullopt when
// it was cancelled.
using EditUserFn =
    std::function<std::optional<UserAccount>(QWidget* parent, const UserAccount& account)>;

// Add is offered while the list holds at most this many entries.
constexpr int kMaxListedUsersForAdd = 256;

class CDlgUserList : public TemplateDialog {
  Q_OBJECT

 public:
  CDlgUserList(AgentState& agent, MessageBoxFn ask, EditUserFn editUser = {},
               QWidget* parent = nullptr);

  void UpdateButtons();
  void OnSecurityClicked();
  void OnAdd();
  void OnRemove();
  void OnEdit();

 private:
  AgentState& agent_;
  MessageBoxFn ask_;
  EditUserFn editUser_;
};

}  // namespace perimo
