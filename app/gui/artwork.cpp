#include "app/gui/artwork.h"

#include <QApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qm::gui {

namespace {

const QColor kInk(0x1f, 0x3a, 0x5f);     // deep blue of the lettering
const QColor kQuill(0xc8, 0x8a, 0x2e);   // amber of the quill mark
const QColor kPaper(0xf7, 0xf3, 0xea);   // warm paper

// A quill feather in a `size` square, used by the banner and the icon.
void DrawQuill(QPainter& p, const QRectF& box) {
  p.save();
  p.translate(box.topLeft());
  p.scale(box.width() / 64.0, box.height() / 64.0);
  QPainterPath vane;
  vane.moveTo(14, 54);
  vane.cubicTo(18, 30, 34, 12, 56, 6);
  vane.cubicTo(50, 22, 38, 40, 14, 54);
  p.setPen(Qt::NoPen);
  p.setBrush(kQuill);
  p.drawPath(vane);
  p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8, 60), QPointF(40, 26));
  p.restore();
}

// A pixmap of `size` logical pixels for the given device pixel ratio.
QPixmap Canvas(QSize size, qreal dpr) {
  if (dpr <= 0) dpr = qApp ? qApp->devicePixelRatio() : 1.0;
  QPixmap pix(size * dpr);
  pix.setDevicePixelRatio(dpr);
  return pix;
}

// The ink-blue ground of the banner and the about image, lighter towards `to`.
void FillInk(QPainter& p, const QRect& rect, QPointF to) {
  QLinearGradient g(rect.topLeft(), to);
  g.setColorAt(0, kInk);
  g.setColorAt(1, QColor(0x3d, 0x6e, 0x9e));
  p.fillRect(rect, g);
}

}  // namespace

QPixmap BannerImage(qreal dpr) {
  QPixmap pix = Canvas({500, 40}, dpr);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  FillInk(p, QRect(0, 0, 500, 40), {500, 0});
  p.fillRect(QRect(0, 36, 500, 4), kQuill);
  p.setBrush(kPaper);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QRectF(6, 3, 30, 30));
  DrawQuill(p, QRectF(9, 5, 26, 26));
  QFont title(QStringLiteral("DejaVu Serif"));
  title.setPixelSize(22);
  title.setBold(true);
  p.setFont(title);
  p.setPen(kPaper);
  p.drawText(QRect(46, 0, 200, 36), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Quillmart"));
  QFont tag(QStringLiteral("DejaVu Sans"));
  tag.setPixelSize(12);
  tag.setItalic(true);
  p.setFont(tag);
  p.setPen(QColor(0xe8, 0xdc, 0xc0));
  p.drawText(QRect(180, 0, 310, 36), Qt::AlignVCenter | Qt::AlignRight,
             QStringLiteral("your products, on the web"));
  return pix;
}

QPixmap BackgroundTile(qreal dpr) {
  QPixmap pix = Canvas({800, 24}, dpr);
  QPainter p(&pix);
  p.fillRect(QRect(0, 0, 800, 24), kPaper);
  // Faint ruled lines like a ledger page, with a margin rule at the left.
  p.setPen(QColor(0xdd, 0xe4, 0xee));
  p.drawLine(0, 23, 799, 23);
  p.setPen(QColor(0xee, 0xc9, 0xc0));
  p.drawLine(36, 0, 36, 23);
  return pix;
}

QPixmap AboutImage(qreal dpr) {
  QPixmap pix = Canvas({110, 85}, dpr);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  FillInk(p, QRect(0, 0, 110, 85), {0, 85});
  p.setPen(Qt::NoPen);
  p.setBrush(kPaper);
  p.drawRoundedRect(QRectF(27, 8, 56, 56), 10, 10);
  DrawQuill(p, QRectF(31, 10, 50, 50));
  p.fillRect(QRect(0, 72, 110, 4), kQuill);
  return pix;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 6.0, size / 6.0);
    DrawQuill(p, QRectF(size * 0.1, size * 0.05, size * 0.85, size * 0.85));
    icon.addPixmap(pix);
  }
  return icon;
}

}  // namespace qm::gui
