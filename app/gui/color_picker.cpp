#include "app/gui/color_picker.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace qm::gui {

namespace {

struct NamedColor {
  QRgb rgb;
  const char* name;
};

// The sixteen colours of the standard palette with their HTML names.
constexpr NamedColor kNamedColors[kColorCells] = {
    {qRgb(0, 0, 0), "Black"},       {qRgb(128, 0, 0), "Maroon"},    {qRgb(0, 128, 0), "Green"},
    {qRgb(128, 128, 0), "Olive"},   {qRgb(0, 0, 128), "Navy"},      {qRgb(128, 0, 128), "Purple"},
    {qRgb(0, 128, 128), "Teal"},    {qRgb(192, 192, 192), "Silver"}, {qRgb(128, 128, 128), "Gray"},
    {qRgb(255, 0, 0), "Red"},       {qRgb(0, 255, 0), "Lime"},      {qRgb(255, 255, 0), "Yellow"},
    {qRgb(0, 0, 255), "Blue"},      {qRgb(255, 0, 255), "Fuchsia"}, {qRgb(0, 255, 255), "Aqua"},
    {qRgb(255, 255, 255), "White"}};

constexpr int kRows = kColorCells / kColorColumns;
constexpr int kLastCell = kColorCells - 1;

// The arrow keys wrap: Up from the top row goes to the bottom of the column to
// the left, Down from the bottom row to the top of the column to the right,
// and the corners 0 and 15 lead to each other.
int NextCell(int sel, int key) {
  switch (key) {
    case Qt::Key_Right:
    case Qt::Key_Space: return sel == kLastCell ? 0 : sel + 1;
    case Qt::Key_Left: return sel == 0 ? kLastCell : sel - 1;
    case Qt::Key_Up: return sel == 0 ? kLastCell : sel < kColorColumns ? sel + 11 : sel - kColorColumns;
    case Qt::Key_Down: return sel == kLastCell ? 0 : sel >= 12 ? sel - 11 : sel + kColorColumns;
    case Qt::Key_Home: return 0;
    case Qt::Key_End: return kLastCell;
    default: return -1;
  }
}

}  // namespace

QColor GridColor(int cell) { return QColor(kNamedColors[qBound(0, cell, kLastCell)].rgb); }

QString ColorNameOf(const QColor& color) {
  for (const NamedColor& c : kNamedColors)
    if (c.rgb == color.rgb()) return QString::fromLatin1(c.name);
  return color.name();
}

TColorGrid::TColorGrid(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
}

QSize TColorGrid::minimumSizeHint() const {
  const int fg = fontMetrics().horizontalAdvance(QStringLiteral("FG"));
  return {kColorColumns * (fg + 12), kRows * (fontMetrics().height() + 8)};
}

int TColorGrid::CellAt(QPoint point) const {
  const int x = qBound(0, point.x(), width() - 1);
  const int y = qBound(0, point.y(), height() - 1);
  const int column = qMin(x / qMax(1, width() / kColorColumns), kColorColumns - 1);
  const int row = qMin(y / qMax(1, height() / kRows), kRows - 1);
  return row * kColorColumns + column;
}

QRect TColorGrid::CellRect(int cell) const {
  const int w = width() / kColorColumns;
  const int h = height() / kRows;
  return {(cell % kColorColumns) * w, (cell / kColorColumns) * h, w, h};
}

void TColorGrid::paintEvent(QPaintEvent*) {
  QPainter p(this);
  for (int cell = 0; cell < kColorCells; ++cell) {
    const QRect r = CellRect(cell);
    p.fillRect(r.adjusted(1, 1, -1, -1), GridColor(cell));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(r.adjusted(1, 1, -2, -2));
  }
  const QColor fg = GridColor(m_foreground);
  p.setPen(fg.lightness() > 128 ? Qt::black : Qt::white);
  p.drawText(CellRect(m_foreground), Qt::AlignCenter, QStringLiteral("FG"));
  if (hasFocus()) {
    QPen mark(GridColor(m_selection).lightness() > 128 ? Qt::black : Qt::white, 1, Qt::DotLine);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    p.drawRect(CellRect(m_selection).adjusted(4, 4, -5, -5));
  }
}

void TColorGrid::Select(int cell) {
  m_selection = cell;
  update();
}

void TColorGrid::ChooseForeground(int cell) {
  m_foreground = cell;
  Select(cell);
}

void TColorGrid::mousePressEvent(QMouseEvent* event) {
  const int cell = CellAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton) {
    m_leftDown = true;
    ChooseForeground(cell);
  } else if (event->button() == Qt::RightButton) {
    Select(cell);  // background colours are not chosen here
  }
}

void TColorGrid::mouseMoveEvent(QMouseEvent* event) {
  if (m_leftDown && (event->buttons() & Qt::LeftButton)) ChooseForeground(CellAt(event->position().toPoint()));
}

void TColorGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_leftDown) return;
  m_leftDown = false;
  emit Clicked();
}

void TColorGrid::keyPressEvent(QKeyEvent* event) {
  const int next = NextCell(m_selection, event->key());
  if (next >= 0) {
    Select(next);
  } else if (event->key() == Qt::Key_F) {
    ChooseForeground(m_selection);
    emit Clicked();
  } else if (event->key() == Qt::Key_B) {
    emit Clicked();  // the foreground stays; the dialog still takes it and closes
  } else {
    QWidget::keyPressEvent(event);
  }
}

TColorPickerForm::TColorPickerForm(QWidget* parent) : QDialog(parent), m_grid(new TColorGrid) {
  setWindowTitle(QStringLiteral("Color Picker"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* inner = new QVBoxLayout(panel);
  inner->setContentsMargins(12, 8, 12, 7);
  m_grid->setParent(panel);
  inner->addWidget(m_grid);
  outer->addWidget(panel);
  // A fixed border at the size the layout needs (273 x 183 at the usual font).
  outer->setSizeConstraint(QLayout::SetFixedSize);
  connect(m_grid, &TColorGrid::Clicked, this, &TColorPickerForm::TakeForegroundColor);
}

void TColorPickerForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_grid->setFocus();
}

void TColorPickerForm::TakeForegroundColor() {
  QGuiApplication::clipboard()->setText(ColorNameOf(GridColor(m_grid->ForegroundIndex())));
  accept();
}

}  // namespace qm::gui
