#pragma once
// A dialog built from its resource template: every control at its place in dialog units
// (scaled by the font, as Windows does), with the texts of the language in force, and its
// control id as object name. The dialogs attach their behaviour by control id.
#include <QDialog>
#include <QString>
#include <cstdint>
#include <map>
#include <string_view>

class QComboBox;

namespace perimo {

class TemplateDialog : public QDialog {
  Q_OBJECT

 public:
  TemplateDialog(uint32_t dialogId, QWidget* parent = nullptr);

  uint32_t dialogId() const { return dialogId_; }
  QWidget* Control(uint32_t id) const;
  template <class T>
  T* ControlAs(uint32_t id) const {
    return qobject_cast<T*>(Control(id));
  }

 private:
  uint32_t dialogId_;
  std::map<uint32_t, QWidget*> controls_;
};

QString ToQString(std::u16string_view text);
std::u16string ToU16(const QString& text);
// Adds an entry at its sorted place, as a sorted combo box or list box does.
int AddSorted(QComboBox* box, const QString& text);

}  // namespace perimo
