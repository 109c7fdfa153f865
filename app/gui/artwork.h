#pragma once
// The program's artwork, drawn at run time so it stays crisp and needs no
// image files: the banner of the main window (500 x 40), the background tile
// of its wallpaper panel (800 x 24), the about box's image (110 x 85) and the
// window icon. Sizes are in logical pixels; `dpr` is the device pixel ratio to
// draw for (0: the application's highest), so the artwork is sharp at 2x.

#include <QIcon>
#include <QPixmap>

namespace qm::gui {

QPixmap BannerImage(qreal dpr = 0);
QPixmap BackgroundTile(qreal dpr = 0);
QPixmap AboutImage(qreal dpr = 0);
QIcon AppIcon();

}  // namespace qm::gui
