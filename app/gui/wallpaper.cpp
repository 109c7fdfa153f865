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
  if (m_picture.width() <= 0 || m_picture.height() <= 0) return;
  const int border = frameWidth();
  const QRect inner = rect().adjusted(border, border, -border, -border);
  QPainter p(this);
  p.setClipRect(inner);
  const int columns = (width() - 2 * border) / m_picture.width();
  const int rows = (height() - 2 * border) / m_picture.height();
  for (int c = 0; c <= columns; ++c)
    for (int r = 0; r <= rows; ++r)
      p.drawPixmap(inner.left() + c * m_picture.width(), inner.top() + r * m_picture.height(), m_picture);
}

}  // namespace qm::gui
