#pragma once
// The program's artwork, drawn at run time so it stays crisp and needs no
// image files: the banner of the main window (500 x 40), the background tile
// of its wallpaper panel (800 x 24) and the window icon.

#include <QIcon>
#include <QPixmap>

namespace qm::gui {

QPixmap BannerImage();
QPixmap BackgroundTile();
QIcon AppIcon();

}  // namespace qm::gui
