// The colour picker by mouse and keyboard, and the about box's memory figures
// from a given /proc/meminfo text.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QtTest>

#include "app/gui/about_box.h"
#include "app/gui/color_picker.h"

using qm::gui::TColorGrid;
using qm::gui::TColorPickerForm;

namespace {

// Runs the picker modally while `act` works on its grid; returns the clipboard text.
QString PickWith(TColorPickerForm& picker, const std::function<void(TColorGrid*)>& act) {
  QApplication::clipboard()->setText("before");
  QTimer::singleShot(30, &picker, [&] { act(picker.Grid()); });
  QTimer::singleShot(3000, &picker, [&] { picker.reject(); });  // never hang on a failure
  picker.exec();
  return QApplication::clipboard()->text();
}

void Press(TColorGrid* grid, int key) { QTest::keyClick(grid, static_cast<Qt::Key>(key)); }

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void ColourPickerByMouse() {
    TColorPickerForm picker;
    QCOMPARE(picker.windowTitle(), QStringLiteral("Color Picker"));
    const auto click = [](int cell) {
      return [cell](TColorGrid* g) { QTest::mouseClick(g, Qt::LeftButton, {}, g->CellRect(cell).center()); };
    };
    QCOMPARE(PickWith(picker, click(0)), QStringLiteral("Black"));
    QCOMPARE(PickWith(picker, click(15)), QStringLiteral("White"));
    QCOMPARE(PickWith(picker, click(2 * 4 + 2)), QStringLiteral("Lime"));
    QCOMPARE(picker.Grid()->ForegroundIndex(), 10);
    // Points outside the grid are clamped into it; the right button only moves the mark.
    TColorGrid* grid = picker.Grid();
    QCOMPARE(grid->CellAt({-5, 9999}), 12);
    QCOMPARE(PickWith(picker,
                      [](TColorGrid* g) {
                        QTest::mouseClick(g, Qt::RightButton, {}, g->CellRect(4).center());
                        QCOMPARE(g->Selection(), 4);
                        QCOMPARE(g->ForegroundIndex(), 10);
                        QTest::mousePress(g, Qt::LeftButton, {}, g->CellRect(1).center());
                        QMouseEvent drag(QEvent::MouseMove, g->CellRect(13).center(), g->mapToGlobal(g->CellRect(13).center()),
                                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
                        QApplication::sendEvent(g, &drag);
                        QTest::mouseRelease(g, Qt::LeftButton, {}, g->CellRect(13).center());
                      }),
             QStringLiteral("Fuchsia"));
    // The close box takes nothing: the clipboard keeps its text.
    QCOMPARE(PickWith(picker, [&](TColorGrid*) { picker.close(); }), QStringLiteral("before"));
  }

  // The arrows wrap as the grid's table says; F takes the selected cell, B the
  // current foreground colour.
  void ColourPickerByKeyboard() {
    TColorPickerForm picker;
    TColorGrid* grid = picker.Grid();
    const QList<std::tuple<int, int, int>> moves = {
        // from, key, to
        {0, Qt::Key_Left, 15},  {15, Qt::Key_Right, 0}, {0, Qt::Key_Space, 1},  {1, Qt::Key_Up, 12},
        {12, Qt::Key_Up, 8},    {0, Qt::Key_Up, 15},    {14, Qt::Key_Down, 3},  {15, Qt::Key_Down, 0},
        {5, Qt::Key_Down, 9},   {6, Qt::Key_End, 15},   {9, Qt::Key_Home, 0},   {3, Qt::Key_Up, 14},
    };
    for (const auto& [from, key, to] : moves) {
      Press(grid, Qt::Key_Home);
      for (int i = 0; i < from; ++i) Press(grid, Qt::Key_Right);
      QCOMPARE(grid->Selection(), from);
      Press(grid, key);
      QVERIFY2(grid->Selection() == to, qPrintable(QString("from %1 key %2 gave %3").arg(from).arg(key).arg(grid->Selection())));
    }
    QCOMPARE(PickWith(picker,
                      [](TColorGrid* g) {
                        Press(g, Qt::Key_Home);
                        Press(g, Qt::Key_Down);
                        Press(g, Qt::Key_Down);
                        Press(g, Qt::Key_Right);
                        Press(g, Qt::Key_Right);
                        Press(g, Qt::Key_F);
                      }),
             QStringLiteral("Lime"));
    QCOMPARE(PickWith(picker,
                      [](TColorGrid* g) {
                        Press(g, Qt::Key_End);
                        Press(g, Qt::Key_B);
                      }),
             QStringLiteral("Lime"));
    QCOMPARE(grid->Selection(), 15);
  }

  void AboutBoxFiguresFromMemInfo() {
    const QByteArray small = "MemTotal:          65024 kB\nMemFree:            1000 kB\nMemAvailable:      40965 kB\n";
    qm::gui::TAboutBox box(nullptr, qm::gui::ParseMemInfo(small), QLocale(QLocale::English));
    QCOMPARE(box.windowTitle(), QStringLiteral("About Quillmart"));
    QCOMPARE(box.PhysicalMemoryLabel()->text(), QStringLiteral("65,024 KB"));
    QCOMPARE(box.MemoryInUseLabel()->text(), QStringLiteral("37 %"));
    QStringList texts;
    for (QLabel* label : box.findChildren<QLabel*>()) texts << label->text();
    QVERIFY(texts.contains("Quillmart " QM_VERSION));
    // 64 GB: far past what a 32-bit byte count holds.
    const qm::gui::MemoryStatus big = qm::gui::ParseMemInfo("MemTotal: 67108864 kB\nMemAvailable: 16777216 kB\n");
    QCOMPARE(big.totalBytes, quint64(68719476736ULL));
    QCOMPARE(big.memoryLoad, 75);
    QCOMPARE(qm::gui::PhysicalMemoryText(big.totalBytes, QLocale(QLocale::English)), QStringLiteral("67,108,864 KB"));
    // No MemAvailable (old kernels): MemFree stands in. Damaged text: no figures, the labels keep "0".
    QCOMPARE(qm::gui::ParseMemInfo("MemTotal: 1000 kB\nMemFree: 250 kB\n").memoryLoad, 75);
    for (const QByteArray& bad : {QByteArray(), QByteArray("MemTotal: lots\n"), QByteArray("MemTotal: 0 kB\n"),
                                 QByteArray("MemTotal: 99999999999999999999 kB\n")}) {
      qm::gui::TAboutBox unknown(nullptr, qm::gui::ParseMemInfo(bad));
      QCOMPARE(unknown.PhysicalMemoryLabel()->text(), QStringLiteral("0"));
      QCOMPARE(unknown.MemoryInUseLabel()->text(), QStringLiteral("0"));
    }
  }
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialogs_qtest.moc"
