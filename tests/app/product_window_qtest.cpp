// The product database window offscreen over a real product table in a
// temporary folder: what its show builds, Close against the title-bar box as
// Build Local sees them, the default stacked text, duplicate keys, and grid
// edits read back by dbfread (a value the table cannot hold is refused).
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "app/core/product_table.h"
#include "dbf/table.h"
#include "app/core/settings_store.h"
#include "app/gui/dataset_memo_edit.h"
#include "app/gui/dataset_navigator.h"
#include "app/gui/dataset_table_model.h"
#include "app/gui/main_window.h"
#include "app/gui/product_form.h"
#include "app/gui/setup_form.h"
#include "tests/app/box_answerer.h"
#include "tests/app/window_lookup.h"

using namespace qm;
using qm::test::BoxAnswerer;
using qm::test::Button;
using qm::test::FileBytes;

namespace {

// Every live record as dbfread reads it: "KEY=ITEM|SNOTES;" in order of entry.
QString DbfreadRecords() {
  QProcess p;
  p.start("/usr/bin/python3", {"-c",
                               "import dbfread\n"
                               "t = dbfread.DBF('catalog.dbf', encoding='cp437', char_decode_errors='strict')\n"
                               "print(''.join('%s=%s|%s;' % (r['KEYNAME'], r['ITEM'], r['SNOTES'] or '') for r in t))"});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError());
}

// The key column of catalog.htm, top to bottom.
QString CatalogKeys(const QStringList& keys) {
  const QString page = QString::fromLatin1(FileBytes("catalog.htm"));
  QList<std::pair<qsizetype, QString>> found;
  for (const QString& key : keys)
    for (qsizetype at = page.indexOf(key); at >= 0; at = page.indexOf(key, at + 1)) found.append({at, key});
  std::sort(found.begin(), found.end());
  QStringList order;
  for (const auto& f : found) order << f.second;
  return order.join(',');
}

}  // namespace

class ProductWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_scratch = std::make_unique<qm::test::WindowScratch>();
    catalog::ProductTable::Create({{"KEYNAME", 8}, {"ITEM", 20}}, true);
    catalog::ProductTable table;
    table.Open(catalog::ProductOrder::Entry);
    // Entered out of key order; the third repeats the first one's key, as another
    // program may write it (the product table refuses to).
    for (const auto& [key, item] : {std::pair{"B200", "Bottle"}, {"A100", "Anvil"}}) {
      auto& ds = table.DataSet();
      ds.Append();
      ds.Fields(0).SetAsString(key);
      ds.Fields(1).SetAsString(item);
      ds.Post();
    }
    table.Close();
    dbf::TbrTable plain(catalog::kProductTableFile, dbf::kOpenSharedReadWrite);
    QVERIFY(plain.OpenTable());
    plain.BlankRecord();
    plain.FieldPut(1, "B200");
    plain.FieldPut(2, "Bucket");
    QVERIFY(plain.AppendRecord());
    catalog::SettingsStore store;
    store.WriteString(catalog::settings::kDatabase, "Field1", "Key");
    store.WriteString(catalog::settings::kDatabase, "Field2", "Item");
    store.WriteInteger(catalog::settings::kDatabase, catalog::settings::kColumns, 2);
  }

  // What one show builds, and which order Build Local sees after each way of closing.
  void CloseButtonAndTitleBarBoxGiveBuildLocalItsOrder() {
    gui::TCatMainForm main;
    gui::TcatdatForm* window = gui::InstallProductWindow(main);
    QVERIFY(window->isHidden() && !window->Grid()->isEnabled());
    main.CatalogAction()->trigger();
    QVERIFY(window->isVisible() && !window->isModal());
    QCOMPARE(window->windowTitle(), QStringLiteral("Quillmart - Product Database"));
    QCOMPARE(window->size(), QSize(688, 344));
    QVERIFY(window->Grid()->isEnabled());
    for (const char* label : {"Stacked Pages Text", "Database Fields - Index on First Field"}) {
      bool found = false;
      for (QLabel* l : window->findChildren<QLabel*>()) found |= l->text() == label;
      QVERIFY2(found, label);
    }
    QCOMPARE(Button(window, "Insert Default Text")->toolTip(), QStringLiteral("Inserts Defined Text from your Setup"));
    // CATALOG.NDX keyed on the first field; the repeated key has no entry.
    QVERIFY(FileBytes("CATALOG.NDX").mid(24, 7) == "KEYNAME");
    while (window->Model()->canFetchMore({})) window->Model()->fetchMore({});
    QCOMPARE(window->Model()->rowCount(), 2);
    QCOMPARE(window->Model()->data(window->Model()->index(0, 0)).toString(), QStringLiteral("A100"));
    QCOMPARE(window->Model()->data(window->Model()->index(1, 1)).toString(), QStringLiteral("Bottle"));
    QVERIFY2(window->StatusLine()->text().startsWith("1 product not listed"), qPrintable(window->StatusLine()->text()));
    QVERIFY(window->Grid()->columnWidth(1) > window->Grid()->columnWidth(0));

    {
      BoxAnswerer answers;
      Button(window, "Close")->click();
      QVERIFY(window->isHidden() && !window->Products().IsOpen());
      main.BuildLocal();
      QCOMPARE(answers.texts, QStringList({"catalog.htm created"}));
    }
    QCOMPARE(CatalogKeys({"A100", "B200"}), QStringLiteral("B200,A100"));  // order of entry, each key once

    main.CatalogAction()->trigger();
    window->close();  // the title-bar box
    QVERIFY(window->isHidden() && window->Products().IsOpen());
    {
      BoxAnswerer answers;
      main.BuildLocal();
    }
    QCOMPARE(CatalogKeys({"A100", "B200"}), QStringLiteral("A100,B200"));  // key order, each key once
    QVERIFY(window->Products().IsOpen());
  }

  // A new table replaces the open one: the window lets go of it first, and
  // the next show indexes the new first field.
  void CreateNewDatabaseClosesTheWindowsTable() {
    gui::TCatMainForm main;
    gui::TcatdatForm* window = gui::InstallProductWindow(main);
    main.CatalogAction()->trigger();
    window->close();
    gui::TSetupForm* setup = main.SetupForm();
    setup->show();
    setup->findChild<QLineEdit*>("dbfname1")->setText("CODE");
    setup->findChild<QLineEdit*>("width1")->setText("6");
    {
      BoxAnswerer answers(QMessageBox::Ok);
      Button(setup, "Create New Database")->click();
      QCOMPARE(answers.texts, QStringList({"Table exists.  Do you want to overwrite?", "catalog.dbf has been created"}));
    }
    QVERIFY(!window->Products().IsOpen());
    main.CatalogAction()->trigger();
    QVERIFY(FileBytes("CATALOG.NDX").mid(24, 4) == "CODE");
    QCOMPARE(window->Model()->rowCount(), 0);
    QVERIFY(window->StatusLine()->text().isEmpty());
  }

  // Insert Default Text types the setup's text into the memo; posting stores
  // it. An empty default clears the memo; Close posts that.
  void InsertDefaultTextThenAnEmptyDefault() {
    catalog::SettingsStore().WriteString(catalog::settings::kStackedPages, catalog::settings::kStackedText,
                                         "Hand made in our workshop");
    gui::TcatdatForm window;
    window.show();
    QCOMPARE(window.DefaultStackedText(), QStringLiteral("Hand made in our workshop"));
    Button(&window, "Insert Default Text")->click();
    QCOMPARE(window.Memo()->toPlainText(), QStringLiteral("Hand made in our workshop"));
    QCOMPARE(window.Products().DataSet().State(), dataset::TDataSetState::dsEdit);
    window.Navigator()->Click(gui::DataSetNavigator::Post);
    QCOMPARE(DbfreadRecords(), QStringLiteral("B200=Bottle|;A100=Anvil|Hand made in our workshop;B200=Bucket|;"));

    catalog::SettingsStore().WriteString(catalog::settings::kStackedPages, catalog::settings::kStackedText, "");
    Button(&window, "Close")->click();
    window.show();
    QCOMPARE(window.DefaultStackedText(), QString());
    QCOMPARE(window.Memo()->toPlainText(), QStringLiteral("Hand made in our workshop"));  // A100, first by key
    Button(&window, "Insert Default Text")->click();
    QCOMPARE(window.Memo()->toPlainText(), QString());
    Button(&window, "Close")->click();  // posts what was typed before closing
    QVERIFY(window.isHidden() && !window.Products().IsOpen());
    QCOMPARE(DbfreadRecords(), QStringLiteral("B200=Bottle|;A100=Anvil|;B200=Bucket|;"));
  }

  // A grid edit is posted at once; a value the table cannot hold is refused
  // with a message naming the field and leaves the stored product as it was.
  void GridEditPostedAndRefusedValues() {
    gui::TcatdatForm window;
    window.show();
    gui::DataSetTableModel* model = window.Model();
    while (model->canFetchMore({})) model->fetchMore({});
    QVERIFY(model->setData(model->index(1, 1), QStringLiteral("Blue bottle")));
    QCOMPARE(DbfreadRecords(), QStringLiteral("B200=Blue bottle|;A100=Anvil|;B200=Bucket|;"));
    BoxAnswerer answers;
    QVERIFY(!model->setData(model->index(0, 1), QStringLiteral("An anvil of the finest iron")));
    QVERIFY(!model->setData(model->index(0, 1), QStringLiteral("Anvil \u20AC")));
    QTRY_COMPARE(answers.texts.size(), 2);
    QVERIFY2(answers.texts[0].contains("ITEM") && answers.texts[0].contains("20"), qPrintable(answers.texts[0]));
    QVERIFY2(answers.texts[1].contains("ITEM") && answers.texts[1].contains("\u20AC"), qPrintable(answers.texts[1]));
    QCOMPARE(answers.icons[0], QMessageBox::Critical);
    QCOMPARE(window.Products().DataSet().State(), dataset::TDataSetState::dsBrowse);
    QCOMPARE(DbfreadRecords(), QStringLiteral("B200=Blue bottle|;A100=Anvil|;B200=Bucket|;"));
    QCOMPARE(model->data(model->index(0, 1)).toString(), QStringLiteral("Anvil"));

    // A new product repeating a key: refused in the error box, nothing stored.
    window.Navigator()->Click(gui::DataSetNavigator::Insert);
    QVERIFY(model->setData(model->index(model->rowCount() - 1, 0), QStringLiteral("A100")));
    window.Navigator()->Click(gui::DataSetNavigator::Post);
    QTRY_COMPARE(answers.texts.size(), 3);
    QVERIFY2(answers.texts[2].contains("A product with the key A100 exists already"), qPrintable(answers.texts[2]));
    if (window.Products().DataSet().State() != dataset::TDataSetState::dsBrowse) window.Products().DataSet().Cancel();
    QCOMPARE(DbfreadRecords(), QStringLiteral("B200=Blue bottle|;A100=Anvil|;B200=Bucket|;"));
    window.Products().DataSet().Last();  // the grid's current cell follows the cursor
    QCOMPARE(window.Grid()->currentIndex().row(), model->CurrentRow());
    QCOMPARE(model->CurrentRow(), 1);
  }

  // Without a table the window still shows, says why, and keeps its grid
  // disabled; a delete is asked about first.
  void MissingTableThenDeleteAskedFirst() {
    const QString table = QString::fromStdString(catalog::ProductTable().TablePath());
    QVERIFY(QFile::rename(table, "kept.dbf"));
    gui::TcatdatForm window;
    {
      BoxAnswerer answers;
      window.show();
      QTRY_COMPARE(answers.texts.size(), 1);
      QVERIFY2(answers.texts[0].startsWith("Cannot find file"), qPrintable(answers.texts[0]));
      QVERIFY2(answers.details[0].contains("Database Setup"), qPrintable(answers.details[0]));
    }
    QVERIFY(window.isVisible() && !window.Grid()->isEnabled() && !window.Products().IsOpen());
    QVERIFY(QFile::rename("kept.dbf", table));
    window.hide();
    window.show();
    QVERIFY(window.Grid()->isEnabled());
    {
      BoxAnswerer answers(QMessageBox::No);
      window.Navigator()->Click(gui::DataSetNavigator::Delete);
      QCOMPARE(answers.texts, QStringList({"Delete this product?"}));
    }
    QCOMPARE(DbfreadRecords(), QStringLiteral("B200=Bottle|;A100=Anvil|;B200=Bucket|;"));
  }

  void cleanup() { QDir::setCurrent(QDir::tempPath()); }

 private:
  std::unique_ptr<qm::test::WindowScratch> m_scratch;
};

QTEST_MAIN(ProductWindowTest)
#include "product_window_qtest.moc"
