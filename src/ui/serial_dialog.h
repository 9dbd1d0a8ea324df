#pragma once
// Serial advanced settings: the baud rate from a fixed list and the RTS/CTS options.
#include <array>
#include <cstdint>

#include "ui/template_dialog.h"

namespace perimo {

// Right-aligned in six characters so that the sorted list keeps numeric order.
constexpr std::array<int32_t, 15> kBaudRates = {110,   300,   600,    1200,   2400,
                                                4800,  9600,  14400,  19200,  38400,
                                                56000, 57600, 115200, 128000, 256000};
// Taken when no rate of the list is selected.
constexpr int32_t kDefaultBaudRate = 19200;

class CDlgSerialProp : public TemplateDialog {
  Q_OBJECT

 public:
  CDlgSerialProp(int32_t baud, int32_t rts, int32_t cts, QWidget* parent = nullptr);

  int32_t baud() const { return baud_; }
  int32_t rts() const { return rts_; }
  int32_t cts() const { return cts_; }

 public slots:
  void accept() override;

 private:
  int32_t baud_, rts_, cts_;
};

}  // namespace perimo
