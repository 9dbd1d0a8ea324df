#include "ui/agent_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace perimo {
namespace {

// The 64-unit drawing of perimo.svg at the given size.
QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);
  const QColor frame(0x1f, 0x4e, 0x79);
  painter.setPen(Qt::NoPen);
  painter.setBrush(frame);
  painter.drawRoundedRect(QRectF(4, 10, 56, 38), 4, 4);
  painter.drawRect(QRectF(26, 48, 12, 6));
  painter.drawRoundedRect(QRectF(18, 54, 28, 4), 2, 2);
  painter.setBrush(QColor(0xe8, 0xf1, 0xfa));
  painter.drawRoundedRect(QRectF(9, 15, 46, 28), 2, 2);
  QPainterPath trend;
  trend.moveTo(16, 36);
  trend.lineTo(26, 26);
  trend.lineTo(34, 32);
  trend.lineTo(48, 20);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(0x2e, 0x8b, 0x57), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPath(trend);
  return pixmap;
}

}  // namespace

QIcon AgentIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64}) icon.addPixmap(Draw(size));
  return icon;
}

}  // namespace perimo
