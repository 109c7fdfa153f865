// The dataset's Qt adapters offscreen over a real product table: the table
// model fetching lazily in key order and following the cursor, edits through
// the model, the navigator's buttons, and the memo editor.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/core/product_table.h"
#include "app/gui/dataset_memo_edit.h"
#include "app/gui/dataset_navigator.h"
#include "app/gui/dataset_table_model.h"

using namespace qm;

class DataSetWidgetsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(m_dir.isValid());
    catalog::ProductTable::Create({{"CODE", 8}, {"NAME", 12}}, true, m_dir.path().toStdString());
    m_table = std::make_unique<catalog::ProductTable>(m_dir.path().toStdString());
    m_table->Open(catalog::ProductOrder::Entry);
    auto& ds = m_table->DataSet();
    for (int i = 0; i < kRecords; ++i) {  // entered in descending key order
      ds.Append();
      ds.Fields(0).SetAsString(QStringLiteral("K%1").arg(kRecords - i, 5, 10, QLatin1Char('0')).toStdString());
      ds.Fields(1).SetAsString("name " + std::to_string(i));
      ds.Post();
    }
    m_table->EnsureIndex(catalog::IndexRebuild::Always);
  }

  void cleanup() { m_table.reset(); }

  // Either side may go first: widgets destroyed before their table detach
  // themselves, and a table destroyed before its widgets detaches them (the
  // sanitizer build catches a widget reaching a freed table).
  void WidgetsAndTheirTableGoInEitherOrder() {
    {
      gui::DataSetTableModel model(m_table->DataSet());
      gui::DataSetNavigator navigator(m_table->DataSet());
      gui::DataSetMemoEdit memo(m_table->DataSet(), "SNOTES");
    }
    m_table->DataSet().Next();  // no link is told of it any more
    auto* model = new gui::DataSetTableModel(m_table->DataSet());
    auto* navigator = new gui::DataSetNavigator(m_table->DataSet());
    auto* memo = new gui::DataSetMemoEdit(m_table->DataSet(), "SNOTES");
    m_table.reset();
    delete memo;
    delete navigator;
    delete model;
  }

  void ModelFetchesLazilyInKeyOrderAndFollowsTheCursor() {
    auto& ds = m_table->DataSet();
    gui::DataSetTableModel model(ds);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("NAME"));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.canFetchMore({}));
    model.fetchMore({});
    QCOMPARE(model.rowCount(), gui::DataSetTableModel::kFetchBatch);
    while (model.canFetchMore({})) model.fetchMore({});
    QCOMPARE(model.rowCount(), kRecords);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("K00001"));
    QCOMPARE(model.data(model.index(kRecords - 1, 0)).toString(), QStringLiteral("K%1").arg(kRecords, 5, 10, QLatin1Char('0')));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("(MEMO)"));
    QCOMPARE(model.CurrentRow(), 0);  // the walk left the cursor where it was

    QSignalSpy moved(&model, &gui::DataSetTableModel::currentRowChanged);
    ds.Next();
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.takeFirst().at(0).toInt(), 1);
    QVERIFY(model.SetCurrentRow(2500));
    QCOMPARE(QString::fromStdString(ds.Fields(0).AsString()), QStringLiteral("K02501"));
  }

  void CursorBeyondFetchedRowsFetchesThroughIt() {
    auto& ds = m_table->DataSet();
    gui::DataSetTableModel model(ds);
    model.fetchMore({});
    QSignalSpy moved(&model, &gui::DataSetTableModel::currentRowChanged);
    ds.Last();
    QCOMPARE(model.CurrentRow(), kRecords - 1);
    QCOMPARE(moved.last().at(0).toInt(), kRecords - 1);
    ds.Delete();  // rows fetched again, the cursor's row among them
    QCOMPARE(model.rowCount(), kRecords - 1);
    QCOMPARE(model.CurrentRow(), kRecords - 2);
  }

  void EditsGoThroughEditAndPost() {
    auto& ds = m_table->DataSet();
    gui::DataSetTableModel model(ds);
    model.fetchMore({});
    QSignalSpy errors(&model, &gui::DataSetTableModel::errorOccurred);
    QVERIFY(model.setData(model.index(4, 1), QStringLiteral("caf\u00e9")));
    QCOMPARE(ds.State(), dataset::TDataSetState::dsBrowse);
    QCOMPARE(model.rowCount(), gui::DataSetTableModel::kFetchBatch);  // updated in place
    QCOMPARE(model.data(model.index(4, 1)).toString(), QStringLiteral("caf\u00e9"));
    QVERIFY(!model.setData(model.index(5, 0), QStringLiteral("much too long for the key")));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(ds.State(), dataset::TDataSetState::dsBrowse);
    // A refused cell inside an edit the user began keeps what was typed so far.
    QVERIFY(model.SetCurrentRow(6));
    ds.Edit();
    QVERIFY(model.setData(model.index(6, 1), QStringLiteral("typed")));
    QVERIFY(!model.setData(model.index(6, 0), QStringLiteral("much too long for the key")));
    QCOMPARE(ds.State(), dataset::TDataSetState::dsEdit);
    QCOMPARE(QString::fromStdString(ds.Fields(1).AsString()), QStringLiteral("typed"));
    ds.Cancel();
    errors.clear();
    m_table->Open(catalog::ProductOrder::Key);
    QVERIFY(m_table->FindProduct("K00005"));
    QCOMPARE(QString::fromStdString(m_table->DataSet().Fields(1).AsString()), QStringLiteral("caf\u00e9"));
    QCOMPARE(errors.count(), 0);
  }

  void NavigatorAndMemoEditor() {
    auto& ds = m_table->DataSet();
    gui::DataSetNavigator navigator(ds);
    gui::DataSetMemoEdit memo(ds, catalog::kProductMemoField);
    QVERIFY(!navigator.ButtonAt(gui::DataSetNavigator::Prior)->isEnabled());
    QVERIFY(!navigator.ButtonAt(gui::DataSetNavigator::Post)->isEnabled());
    QCOMPARE(navigator.ButtonAt(gui::DataSetNavigator::Refresh)->toolTip(), QStringLiteral("Refresh data"));
    navigator.Click(gui::DataSetNavigator::Next);
    QCOMPARE(QString::fromStdString(ds.Fields(0).AsString()), QStringLiteral("K00002"));
    memo.setPlainText(QStringLiteral("first line\nsecond line"));  // as typing does
    QCOMPARE(ds.State(), dataset::TDataSetState::dsEdit);
    QVERIFY(navigator.ButtonAt(gui::DataSetNavigator::Post)->isEnabled());
    navigator.Click(gui::DataSetNavigator::Post);
    QCOMPARE(ds.State(), dataset::TDataSetState::dsBrowse);
    QCOMPARE(QString::fromStdString(m_table->MemoField()->AsString()), QStringLiteral("first line\r\nsecond line"));
    navigator.Click(gui::DataSetNavigator::Next);
    QCOMPARE(memo.toPlainText(), QString());
    navigator.Click(gui::DataSetNavigator::Prior);
    QCOMPARE(memo.toPlainText(), QStringLiteral("first line\nsecond line"));
    memo.setPlainText(QStringLiteral("dropped"));
    navigator.Click(gui::DataSetNavigator::Cancel);
    QCOMPARE(memo.toPlainText(), QStringLiteral("first line\nsecond line"));

    QSignalSpy errors(&navigator, &gui::DataSetNavigator::errorOccurred);
    bool asked = false;
    navigator.ConfirmDelete = [&] { asked = true; return false; };
    navigator.Click(gui::DataSetNavigator::Delete);
    QVERIFY(asked);
    QCOMPARE(ds.RecordCount(), kRecords);
    navigator.Click(gui::DataSetNavigator::Insert);
    QVERIFY(navigator.ButtonAt(gui::DataSetNavigator::Cancel)->isEnabled());
    navigator.Click(gui::DataSetNavigator::Cancel);
    QCOMPARE(errors.count(), 0);
  }

 private:
  static constexpr int kRecords = 3000;
  QTemporaryDir m_dir;
  std::unique_ptr<catalog::ProductTable> m_table;
};

QTEST_MAIN(DataSetWidgetsTest)
#include "dataset_widgets_qtest.moc"
