#include "ui/serial_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include "protocol/dialog_resources.h"

namespace perimo {
namespace {

constexpr uint32_t kBaudList = 115, kRts = 133, kCts = 135;

QString RateText(int32_t rate) {
  return QStringLiteral("%1").arg(rate, 6);
}

}  // namespace

CDlgSerialProp::CDlgSerialProp(int32_t baud, int32_t rts, int32_t cts, QWidget* parent)
    : TemplateDialog(kDialogSerial, parent), baud_(baud), rts_(rts), cts_(cts) {
  if (auto* list = ControlAs<QComboBox>(kBaudList)) {
    for (int32_t rate : kBaudRates) AddSorted(list, RateText(rate));
    list->setCurrentIndex(list->findText(RateText(baud)));  // -1: a rate not in the list
  }
  if (auto* box = ControlAs<QCheckBox>(kRts)) box->setChecked(rts != 0);
  if (auto* box = ControlAs<QCheckBox>(kCts)) box->setChecked(cts != 0);
  if (auto* ok = ControlAs<QPushButton>(1))
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  if (auto* cancel = ControlAs<QPushButton>(2)) {
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  }
}

void CDlgSerialProp::accept() {
  baud_ = kDefaultBaudRate;
  if (auto* list = ControlAs<QComboBox>(kBaudList); list && list->currentIndex() >= 0) {
    baud_ = list->currentText().trimmed().toInt();
  }
  rts_ = ControlAs<QCheckBox>(kRts)->isChecked() ? 1 : 0;
  cts_ = ControlAs<QCheckBox>(kCts)->isChecked() ? 1 : 0;
  QDialog::accept();
}

}  // namespace perimo
