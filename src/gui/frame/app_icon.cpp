#include "gui/frame/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace lyr {
namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(QPen(QColor("#11161c"), 2));
  p.setBrush(QColor("#2b3440"));
  p.drawRoundedRect(QRectF(14, 4, 36, 56), 6, 6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#9fd8a0"));
  p.drawRoundedRect(QRectF(19, 10, 26, 16), 2, 2);
  p.setBrush(QColor("#2b3440"));
  const int bars[][2] = {{22, 6}, {26, 9}, {30, 11}, {34, 8}, {38, 5}};
  for (const auto& b : bars) p.drawRect(QRectF(b[0], 24 - b[1], 2, b[1]));
  p.setPen(QPen(QColor("#11161c"), 1.5));
  p.setBrush(QColor("#dd3333"));
  p.drawEllipse(QPointF(32, 40), 7, 7);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#56606c"));
  p.drawRoundedRect(QRectF(22, 51, 20, 3), 1.5, 1.5);
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawIcon(size));
  return icon;
}

}  // namespace lyr
