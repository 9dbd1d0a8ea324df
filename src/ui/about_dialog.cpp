#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "protocol/dialog_resources.h"

namespace perimo {

CAboutDlg::CAboutDlg(std::u16string_view title, std::u16string_view exeFileName,
                     std::u16string_view aboutText, QWidget* parent)
    : TemplateDialog(kDialogAbout, parent) {
  std::u16string heading(title);
  heading += u' ';
  heading += exeFileName;
  if (auto* label = ControlAs<QLabel>(1001)) label->setText(ToQString(heading));
  if (auto* label = ControlAs<QLabel>(1002)) {
    label->setWordWrap(true);
    label->setText(ToQString(aboutText.empty() ? title : aboutText));
  }
  if (auto* ok = ControlAs<QPushButton>(1))
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace perimo
