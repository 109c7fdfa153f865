#pragma once
// The colour picker: a modal dialog with a grid of sixteen colours. A click
// (or the F and B keys) puts the chosen colour's HTML name ("Navy") on the
// clipboard as text and closes the dialog; the setup dialog then pastes the
// clipboard into the colour setting being edited. Closing it by its close box
// (or Escape) leaves the clipboard as it was.

#include <QColor>
#include <QDialog>
#include <QWidget>

namespace qm::gui {

// The colours of the grid, cell 0 (top left) to 15 (bottom right).
inline constexpr int kColorCells = 16;
inline constexpr int kColorColumns = 4;
QColor GridColor(int cell);
// The HTML name of one of the sixteen colours ("Lime"); the colour's #rrggbb
// text for any other colour.
QString ColorNameOf(const QColor& color);

// The grid: 4 x 4 equal cells. The foreground cell (the chosen one) carries
// the letters "FG"; the selection (moved by the keyboard and the right
// button) carries the focus mark. Both start at cell 0 and are kept between uses.
class TColorGrid : public QWidget {
  Q_OBJECT
 public:
  explicit TColorGrid(QWidget* parent = nullptr);

  int ForegroundIndex() const { return m_foreground; }
  int Selection() const { return m_selection; }
  // The cell under a point of the grid, the point clamped into the grid first.
  int CellAt(QPoint point) const;
  QRect CellRect(int cell) const;
  QSize sizeHint() const override { return {248, 168}; }
  QSize minimumSizeHint() const override;

 signals:
  // A click completed: the foreground colour is the one chosen.
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Select(int cell);
  void ChooseForeground(int cell);

  int m_foreground = 0;
  int m_selection = 0;
  bool m_leftDown = false;
};

class TColorPickerForm : public QDialog {
  Q_OBJECT
 public:
  explicit TColorPickerForm(QWidget* parent = nullptr);
  TColorGrid* Grid() const { return m_grid; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void TakeForegroundColor();

  TColorGrid* m_grid;
};

}  // namespace qm::gui
