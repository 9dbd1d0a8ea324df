#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>

#include "protocol/status_text.h"

namespace perimo {

void WriteLineToStdout(std::u16string_view text) {
  const std::string line = QString::fromStdU16String(std::u16string(text)).toStdString();
  std::string out;
  out.reserve(line.size() + 1);
  for (char c : line) {
    if (c != '\r') out.push_back(c);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

MessageBoxAnswer ShowMessageBox(QWidget* parent, std::u16string_view title,
                                std::u16string_view text, MessageBoxKind kind, MessageBoxIcon icon,
                                bool canShow) {
  if (!canShow || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
    WriteLineToStdout(text);
    if (kind == MessageBoxKind::kYesNo) {
      WriteLineToStdout(StatusText(kTextHeadlessAnsweredNo));
      return MessageBoxAnswer::kNo;
    }
    WriteLineToStdout(StatusText(kTextHeadlessAnsweredOk));
    return MessageBoxAnswer::kOk;
  }
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromStdU16String(std::u16string(title)));
  box.setText(QString::fromStdU16String(std::u16string(text)));
  switch (icon) {
    case MessageBoxIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageBoxIcon::kExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageBoxIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case MessageBoxIcon::kNone:
      break;
  }
  if (kind == MessageBoxKind::kOk) {
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageBoxAnswer::kOk;
  }
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
}

}  // namespace perimo
