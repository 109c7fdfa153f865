#include "app/gui/wallpaper.h"

#include <QPainter>

namespace qm::gui {

TWallpaper::TWallpaper(QWidget* parent) : QFrame(parent) {}

void TWallpaper::SetWallpaper(const QPixmap& picture) {
  m_picture = picture;
  update();
}

void TWallpaper::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  // Tiles are laid out in logical pixels; a picture drawn for 2x stays sharp.
  const QSize tile = m_picture.deviceIndependentSize().toSize();
  if (tile.width() <= 0 || tile.height() <= 0) return;
  const int border = frameWidth();
  const QRect inner = rect().adjusted(border, border, -border, -border);
  QPainter p(this);
  p.setClipRect(inner);
  const int columns = (width() - 2 * border) / tile.width();
  const int rows = (height() - 2 * border) / tile.height();
  for (int c = 0; c <= columns; ++c)
    for (int r = 0; r <= rows; ++r)
      p.drawPixmap(inner.left() + c * tile.width(), inner.top() + r * tile.height(), m_picture);
}

}  // namespace qm::gui
