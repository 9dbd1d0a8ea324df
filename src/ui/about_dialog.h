#pragma once
// The About box: the application title with the executable's file name, and the OEM text
// ("OEM"/"AboutText") or else the title again.
#include <string_view>

#include "ui/template_dialog.h"

namespace perimo {

class CAboutDlg : public TemplateDialog {
  Q_OBJECT

 public:
  CAboutDlg(std::u16string_view title, std::u16string_view exeFileName,
            std::u16string_view aboutText, QWidget* parent = nullptr);
};

}  // namespace perimo
