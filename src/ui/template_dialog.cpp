#include "ui/template_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "protocol/dialog_resources.h"

namespace perimo {
namespace {

// Dialog units: a quarter of the average character width across, an eighth of the character
// height down.
struct Units {
  double x, y;
  explicit Units(const QFont& font) {
    const QFontMetrics fm(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    x = fm.horizontalAdvance(alphabet) / 52.0 / 4.0;
    y = fm.height() / 8.0;
  }
  QRect Rect(int x0, int y0, int cx, int cy) const {
    return QRect(static_cast<int>(x0 * x), static_cast<int>(y0 * y), static_cast<int>(cx * x),
                 static_cast<int>(cy * y));
  }
};

QWidget* MakeControl(const DialogItem& item, const QString& text, QWidget* parent) {
  using namespace style;
  switch (item.classOrdinal) {
    case kClassButton: {
      const uint32_t type = item.style & kButtonTypeMask;
      if (type == kGroupBox) return new QGroupBox(text, parent);
      if (type == 2 || type == kAutoCheckBox) return new QCheckBox(text, parent);
      if (type == 4 || type == kAutoRadioButton) return new QRadioButton(text, parent);
      auto* button = new QPushButton(text, parent);
      button->setDefault(type == kDefPushButton);
      return button;
    }
    case kClassEdit: {
      if (item.style & kMultiLine) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(item.style & kReadOnly);
        edit->setUndoRedoEnabled(false);
        edit->setVerticalScrollBarPolicy((item.style & kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                 : Qt::ScrollBarAlwaysOff);
        if (!(item.style & kBorder)) edit->setFrameShape(QFrame::NoFrame);
        return edit;
      }
      auto* edit = new QLineEdit(parent);
      edit->setReadOnly(item.style & kReadOnly);
      edit->setFrame(item.style & kBorder);
      if (item.style & kPassword) edit->setEchoMode(QLineEdit::Password);
      return edit;
    }
    case kClassListBox:
      return new QListWidget(parent);
    case kClassComboBox: {
      auto* box = new QComboBox(parent);
      box->setEditable((item.style & 0x3) == kDropDown);
      return box;
    }
    default: {
      auto* label = new QLabel(parent);
      if ((item.style & 0x1F) == kIcon) {
        label->setPixmap(parent->style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));
      } else {
        label->setText(text);
      }
      return label;
    }
  }
}

}  // namespace

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text) {
  return text.toStdU16String();
}

int AddSorted(QComboBox* box, const QString& text) {
  int at = 0;
  while (at < box->count() && QString::compare(box->itemText(at), text, Qt::CaseInsensitive) <= 0) {
    ++at;
  }
  box->insertItem(at, text);
  return at;
}

TemplateDialog::TemplateDialog(uint32_t dialogId, QWidget* parent)
    : QDialog(parent), dialogId_(dialogId) {
  setWindowTitle(ToQString(DialogTitle(dialogId)));
  const DialogResource* resource = BuiltInDialog(dialogId);
  if (!resource) return;
  const Units units(font());
  setFixedSize(units.Rect(0, 0, resource->cx, resource->cy).size());
  QLabel* pendingLabel = nullptr;
  for (size_t i = 0; i < resource->items.size(); ++i) {
    const DialogItem& item = resource->items[i];
    QWidget* w = MakeControl(item, ToQString(DialogItemText(dialogId, i)), this);
    QRect r = units.Rect(item.x, item.y, item.cx, item.cy);
    // A combo box's template height includes its dropped list.
    if (item.classOrdinal == kClassComboBox) r.setHeight(w->sizeHint().height());
    w->setGeometry(r);
    if (item.style & style::kDisabled) w->setEnabled(false);
    if (qobject_cast<QGroupBox*>(w)) w->lower();
    // A label's mnemonic moves the focus to the control after it.
    if (pendingLabel && item.classOrdinal != kClassStatic) {
      pendingLabel->setBuddy(w);
      pendingLabel = nullptr;
    }
    if (auto* label = qobject_cast<QLabel*>(w); label && label->text().contains('&')) {
      pendingLabel = label;
    }
    if (item.id != kNoControlId && item.id != 0xFFFF) {
      w->setObjectName(QString::number(item.id));
      controls_.emplace(item.id, w);
    }
  }
}

QWidget* TemplateDialog::Control(uint32_t id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

}  // namespace perimo
