#pragma once
// Widgets tests run on Qt's offscreen platform, so no display is needed. Message boxes are
// answered by a script that records what was asked.
#include <string>
#include <vector>

#include "protocol/agent_state.h"
#include "ui/message_box.h"

namespace perimo::test {

struct ScriptedAnswers {
  std::vector<std::u16string> asked;
  std::vector<MessageBoxAnswer> answers;  // taken in order; then No or OK

  MessageBoxFn Fn() {
    return [this](QWidget*, std::u16string_view text, MessageBoxKind kind, MessageBoxIcon) {
      asked.emplace_back(text);
      if (!answers.empty()) {
        const MessageBoxAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
      }
      return kind == MessageBoxKind::kYesNo ? MessageBoxAnswer::kNo : MessageBoxAnswer::kOk;
    };
  }
};

// A temporary folder holding the agent's settings file; paths in wire form.
class AgentFolder {
 public:
  AgentFolder();
  ~AgentFolder();
  AgentState agent;
  std::string native;
  std::string ReadSettings() const;
  void WriteFile(const std::string& name, const std::string& text) const;
};

// The folder where tests leave pictures of the windows: build/pictures.
std::string PicturesFolder();

}  // namespace perimo::test
