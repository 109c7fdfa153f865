#pragma once
// A panel that tiles a picture over its client area, inside its frame: the
// background of the main window. One column and one row more than fit whole
// are drawn; the clip cuts the last partial tiles at the frame's inner edge.

#include <QFrame>
#include <QPixmap>

namespace qm::gui {

class TWallpaper : public QFrame {
  Q_OBJECT
 public:
  explicit TWallpaper(QWidget* parent = nullptr);

  // Copies the picture and repaints; an empty picture paints a plain panel.
  void SetWallpaper(const QPixmap& picture);
  const QPixmap& Wallpaper() const { return m_picture; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap m_picture;
};

}  // namespace qm::gui
