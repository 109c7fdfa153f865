// The product grid driven as a user drives it: real clicks on the grid's
// cells and real key presses, over a product table CODE:8 NAME:30 PRICE:10
// that quillmart-cli (another process) also changes, read back by
// quillmart-cli dump, dbfread and Perl XBase.
#include <QAction>
#include <QLabel>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include "app/core/product_table.h"
#include "app/core/settings_store.h"
#include "app/gui/dataset_memo_edit.h"
#include "app/gui/dataset_navigator.h"
#include "app/gui/dataset_table_model.h"
#include "app/gui/main_window.h"
#include "app/gui/product_form.h"
#include "tests/app/box_answerer.h"
#include "tests/app/grid_peers.h"
#include "tests/app/window_lookup.h"

using namespace qm;
using qm::test::BoxAnswerer;
using qm::test::RunCli;

namespace {

void ClickCell(QTableView* grid, int row, int column) {
  const QRect cell = grid->visualRect(grid->model()->index(row, column));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

void DoubleClickCell(QTableView* grid, int row, int column) {
  const QRect cell = grid->visualRect(grid->model()->index(row, column));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

QWidget* g_window = nullptr;  // the window the keyboard works in

// Keys go where the keyboard focus is, as they would for the user.
// The offscreen platform does not give the window back its activation when a
// message box closes, as a desktop does; the test does.
QWidget* KeyboardFocus() {
  if (QApplication::activeWindow() == nullptr) {
    g_window->activateWindow();
    QCoreApplication::processEvents();
  }
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr ? focus : g_window;
}

// Each key is followed by the events it queued (an editor commits its text
// on the next turn of the event loop), as the user's next key would be.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
  QTest::keyClick(KeyboardFocus(), key, modifiers);
  QCoreApplication::processEvents();
}

void Type(const QString& text) {
  for (const QChar c : text) QTest::keyClicks(KeyboardFocus(), QString(c));
  QCoreApplication::processEvents();
}

// The table as quillmart-cli dump prints it, deleted products marked.
QString Dump() { return RunCli({"dump", "--deleted"}).remove(QChar('\r')); }

// The grid's rows as "CODE|NAME|PRICE", top to bottom.
QStringList GridRows(gui::DataSetTableModel* model) {
  while (model->canFetchMore({})) model->fetchMore({});
  QStringList rows;
  for (int r = 0; r < model->rowCount(); ++r)
    rows << QStringList{model->data(model->index(r, 0)).toString(), model->data(model->index(r, 1)).toString(),
                        model->data(model->index(r, 2)).toString()}
                .join('|');
  return rows;
}

void AddProducts(const QList<QStringList>& products) {
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Entry);
  index::TBrambleDataSet& ds = table.DataSet();
  for (const QStringList& p : products) {
    ds.Append();
    for (int i = 0; i < p.size(); ++i) ds.Fields(i).SetAsString(p[i].toStdString());
    ds.Post();
  }
}

}  // namespace

class ProductGridTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_scratch = std::make_unique<qm::test::WindowScratch>();
    catalog::ProductTable::Create({{"CODE", 8}, {"NAME", 30}, {"PRICE", 10}}, true);
    AddProducts({{"AAA", "Apple"}, {"BBB", "Banana"}, {"CCC", "Cherry"}});
  }
  void cleanup() {
    m_scratch.reset();
    QDir::setCurrent(QDir::tempPath());
  }

  // A click or a key moves to a product; what is typed then lands in the
  // chosen field of that product, and after a key change the rows follow
  // the products, not their old places.
  void TypingLandsInTheCellChosenByClickOrKey() {
    gui::TcatdatForm window;
    window.SetRefreshInterval(0);
    ShowActive(window);
    QTableView* grid = window.Grid();
    gui::DataSetTableModel* model = window.Model();
    BoxAnswerer answers;

    ClickCell(grid, 2, 1);  // NAME of the third product
    QCOMPARE(grid->currentIndex(), model->index(2, 1));
    Type("9.99");
    Press(Qt::Key_Return);
    QCOMPARE(Dump(), QStringLiteral("_deleted,CODE,NAME,PRICE,SNOTES\n,AAA,Apple,,\n,BBB,Banana,,\n,CCC,9.99,,\n"));
    QCOMPARE(grid->currentIndex(), model->index(2, 1));

    ClickCell(grid, 0, 1);
    Press(Qt::Key_Down);
    Type("Blueberry");
    Press(Qt::Key_Return);
    Press(Qt::Key_Tab);
    Type("1.50");
    Press(Qt::Key_Return);
    QCOMPARE(Dump(), QStringLiteral("_deleted,CODE,NAME,PRICE,SNOTES\n,AAA,Apple,,\n,BBB,Blueberry,1.50,\n,CCC,9.99,,\n"));

    // A new key: the grid shows key order at once, the product still current.
    ClickCell(grid, 2, 0);
    Type("0AA");
    Press(Qt::Key_Return);
    QCOMPARE(GridRows(model), QStringList({"0AA|9.99|", "AAA|Apple|", "BBB|Blueberry|1.50"}));
    QCOMPARE(grid->currentIndex(), model->index(0, 0));
    DoubleClickCell(grid, 1, 1);  // "Apple"
    Type("Avocado");
    Press(Qt::Key_Return);
    QCOMPARE(Dump(), QStringLiteral("_deleted,CODE,NAME,PRICE,SNOTES\n,AAA,Avocado,,\n,BBB,Blueberry,1.50,\n,0AA,9.99,,\n"));
    QCOMPARE(GridRows(model), QStringList({"0AA|9.99|", "AAA|Avocado|", "BBB|Blueberry|1.50"}));
    QVERIFY2(answers.texts.isEmpty(), qPrintable(answers.texts.join('\n')));
  }

  // Another program deletes, adds and changes products while the window is
  // open: an edit never reaches the wrong product, and the grid shows the
  // table afresh on activation and on its timer.
  void AnotherProgramsChangesNeverMisdirectAnEdit() {
    gui::TcatdatForm window;
    window.SetRefreshInterval(0);
    ShowActive(window);
    QTableView* grid = window.Grid();
    gui::DataSetTableModel* model = window.Model();
    QCOMPARE(RunCli({"delete", "BBB"}), QStringLiteral("Product BBB deleted\n"));
    const QString before = Dump();
    {
      BoxAnswerer answers;
      ClickCell(grid, 1, 1);  // the row still shows Banana
      QTRY_COMPARE(answers.texts.size(), 1);
      QVERIFY2(answers.texts[0].contains("no longer in the table"), qPrintable(answers.texts[0]));
    }
    QCOMPARE(GridRows(model), QStringList({"AAA|Apple|", "CCC|Cherry|"}));
    QCOMPARE(grid->currentIndex().row(), model->CurrentRow());
    QCOMPARE(Dump(), before);

    QVERIFY(RunCli({"set", "--new", "ABC", "NAME=Apricot"}).startsWith("Product ABC added"));
    QVERIFY(window.RefreshIfChangedOutside());
    QVERIFY(!window.RefreshIfChangedOutside());  // nothing new since
    QCOMPARE(GridRows(model).mid(0, 2), QStringList({"AAA|Apple|", "ABC|Apricot|"}));
    ClickCell(grid, 1, 2);
    Type("2.00");
    Press(Qt::Key_Return);
    QVERIFY(Dump().contains(",ABC,Apricot,2.00,"));

    window.SetRefreshInterval(50);
    QVERIFY(RunCli({"set", "AAA", "NAME=Apple pie"}).startsWith("Product AAA changed"));
    QTRY_COMPARE(model->data(model->index(0, 1)).toString(), QStringLiteral("Apple pie"));
    QCOMPARE(grid->currentIndex().column(), 2);
  }

  // "+" puts the cursor into the new product's key cell; a product without a
  // key is refused naming the key field, by the window, the command line and
  // Build Local.
  void NewProductStartsInItsKeyCellAndNeedsAKey() {
    gui::TcatdatForm window;
    window.SetRefreshInterval(0);
    ShowActive(window);
    QTableView* grid = window.Grid();
    gui::DataSetTableModel* model = window.Model();
    window.Memo()->setFocus();
    QToolButton* plus = window.Navigator()->ButtonAt(gui::DataSetNavigator::Insert);
    QTest::mouseClick(plus, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), grid);
    QCOMPARE(grid->currentIndex(), model->index(3, 0));
    Type("DDD");
    Press(Qt::Key_Tab);
    Type("Date");
    Press(Qt::Key_Return);
    Press(Qt::Key_Return);  // posts the new product
    QVERIFY(Dump().endsWith(",DDD,Date,,\n"));
    QCOMPARE(GridRows(model).last(), QStringLiteral("DDD|Date|"));

    const QString before = Dump();
    {
      BoxAnswerer answers;
      QTest::mouseClick(plus, Qt::LeftButton);
      Press(Qt::Key_Tab);
      Type("No key");
      Press(Qt::Key_Return);
      Press(Qt::Key_Return);
      ClickCell(grid, 0, 1);  // leaving the row posts too
      QTRY_COMPARE(answers.texts.size(), 2);
      for (const QString& text : answers.texts) QVERIFY2(text.contains("key field CODE is empty"), qPrintable(text));
      QCOMPARE(window.Products().DataSet().State(), index::TDataSetState::dsInsert);
      QCOMPARE(grid->currentIndex().row(), 4);
      Type("   ");  // blanks are no key either
      Press(Qt::Key_Return);
      Press(Qt::Key_Return);
      QTRY_COMPARE(answers.texts.size(), 3);
      Press(Qt::Key_Escape);
    }
    QCOMPARE(window.Products().DataSet().State(), index::TDataSetState::dsBrowse);
    QCOMPARE(Dump(), before);
    QCOMPARE(model->rowCount(), 4);

    QVERIFY2(RunCli({"set", "--new", "  ", "NAME=x"}).contains("key field CODE is empty"), qPrintable(Dump()));
    QVERIFY(RunCli({"set", "AAA", "CODE="}).contains("key field CODE is empty"));
    QVERIFY(RunCli({"set", "--new", "Help", "NAME=x"}).contains("help.htm"));
    QCOMPARE(Dump(), before);

    // A product stored without a key by an older program: Build Local says so.
    AddProducts({{"", "Hidden"}});
    catalog::SettingsStore().WriteBool(catalog::settings::kStackedPages, catalog::settings::kUseStackedPages, true);
    gui::TCatMainForm main;
    BoxAnswerer answers;
    main.BuildLocal();
    QCOMPARE(answers.texts.size(), 1);
    QVERIFY2(answers.texts[0].contains("A product needs a key"), qPrintable(answers.texts[0]));
    QVERIFY(!QFile::exists(".htm") && !QFile::exists("catalog.htm"));
  }

  // Insert adds a product and Escape drops it; Ctrl+Del asks before it
  // deletes; Ctrl+End reaches the last of thousands of products, beyond the
  // rows fetched at first; the key column fits its widest keys.
  void KeyboardCommandsAndALongTable() {
    QList<QStringList> many;
    for (int i = 0; i < 4500; ++i) many.append({QStringLiteral("K%1").arg(i, 7, 10, QChar('0')), "Item"});
    AddProducts(many);
    gui::TcatdatForm window;
    window.SetRefreshInterval(0);
    ShowActive(window);
    QTableView* grid = window.Grid();
    gui::DataSetTableModel* model = window.Model();
    QVERIFY(grid->columnWidth(0) >= grid->fontMetrics().horizontalAdvance("WWWWWWWW"));
    ClickCell(grid, 0, 1);
    Press(Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(window.Products().KeyField().AsString(), std::string("K0004499"));
    QCOMPARE(model->CurrentRow(), 4502);
    QCOMPARE(grid->currentIndex(), model->index(4502, 1));
    Press(Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(grid->currentIndex(), model->index(0, 1));

    Press(Qt::Key_Insert);
    QCOMPARE(window.Products().DataSet().State(), index::TDataSetState::dsInsert);
    QCOMPARE(grid->currentIndex().column(), 0);
    Press(Qt::Key_Escape);
    QCOMPARE(window.Products().DataSet().State(), index::TDataSetState::dsBrowse);
    QCOMPARE(QString::fromStdString(window.Products().KeyField().AsString()), QStringLiteral("AAA"));
    {
      BoxAnswerer answers(QMessageBox::No);
      Press(Qt::Key_Delete, Qt::ControlModifier);
      QCOMPARE(answers.texts, QStringList({"Delete this product?"}));
    }
    QVERIFY(!Dump().contains("*,AAA"));
    QCOMPARE(QString::fromStdString(window.Products().KeyField().AsString()), QStringLiteral("AAA"));
    {
      BoxAnswerer answers(QMessageBox::Yes);
      Press(Qt::Key_Delete, Qt::ControlModifier);
      QCOMPARE(answers.texts, QStringList({"Delete this product?"}));
    }
    QVERIFY2(Dump().contains("*,AAA,Apple"), qPrintable(Dump().split("\n").filter("*").join(" ")));
  }

  // Exit with typed notes not yet posted asks first: Cancel keeps the
  // program and the edit, Discard drops the notes, Save stores them.
  void ExitAsksBeforeAnUnpostedEditIsLost() {
    gui::TCatMainForm main;
    gui::TcatdatForm* window = gui::InstallProductWindow(main);
    QAction* exit = nullptr;
    for (QAction* a : main.findChildren<QAction*>()) if (a->text() == QStringLiteral("E&xit")) exit = a;
    QVERIFY(exit != nullptr);
    main.show();
    main.CatalogAction()->trigger();
    window->SetRefreshInterval(0);
    ShowActive(*window);
    for (const auto answer : {QMessageBox::Cancel, QMessageBox::Discard, QMessageBox::Save}) {
      main.show();
      window->Memo()->setFocus();
      Type(answer == QMessageBox::Save ? "Saved notes" : "Dropped notes");
      QCOMPARE(window->Products().DataSet().State(), index::TDataSetState::dsEdit);
      BoxAnswerer answers(answer);
      exit->trigger();
      QCOMPARE(answers.texts.size(), 1);
      QVERIFY2(answers.texts[0].contains("not saved"), qPrintable(answers.texts[0]));
      QCOMPARE(main.isVisible(), answer == QMessageBox::Cancel);
      QCOMPARE(window->Products().DataSet().State(),
               answer == QMessageBox::Cancel ? index::TDataSetState::dsEdit : index::TDataSetState::dsBrowse);
    }
    QCOMPARE(Dump(), QStringLiteral("_deleted,CODE,NAME,PRICE,SNOTES\n,AAA,Apple,,Saved notes\n,BBB,Banana,,\n,CCC,Cherry,,\n"));
    BoxAnswerer none;
    main.show();
    exit->trigger();  // nothing pending: no question
    QVERIFY(none.texts.isEmpty() && !main.isVisible());
  }

 private:
  static void ShowActive(QWidget& window) {
    g_window = &window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
  }

  std::unique_ptr<qm::test::WindowScratch> m_scratch;
};

QTEST_MAIN(ProductGridTest)
#include "product_grid_qtest.moc"
