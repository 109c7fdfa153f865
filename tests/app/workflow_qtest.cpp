// The whole workflow from an empty folder, using only the windows: Setup
// (company, site, stacked pages, Create New Database), two products entered
// in the product window's grid with their notes, Build Local, and Upload
// Catalog into pyftpdlib on 127.0.0.1.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/core/product_table.h"
#include "app/core/settings_store.h"
#include "app/gui/dataset_memo_edit.h"
#include "app/gui/dataset_navigator.h"
#include "app/gui/dataset_table_model.h"
#include "app/gui/main_window.h"
#include "app/gui/product_form.h"
#include "app/gui/setup_form.h"
#include "app/gui/upload_catalog_ui.h"
#include "ftp_servers_util.h"
#include "tests/app/box_answerer.h"
#include "tests/app/window_lookup.h"

using qm::test::BoxAnswerer;
using qm::test::Button;
using qm::test::FileBytes;

namespace {

QAction* Action(QWidget* root, const QString& text) {
  for (QAction* a : root->findChildren<QAction*>())
    if (a->text() == text) return a;
  return nullptr;
}

// What the user does in the setup dialog while it is open.
void FillInSetup(qm::gui::TSetupForm* setup) {
  auto edit = [setup](const char* name, const QString& text) { setup->findChild<QLineEdit*>(name)->setText(text); };
  edit("Name", "Quill & Daughters");
  edit("remote address", "127.0.0.1");
  edit("user name", "user");
  edit("remote directory", "onlinecatalog/");
  edit("remote password", "secret");
  edit("Field1", "Code");
  edit("Field2", "Article");
  edit("dbfname2", "item");
  edit("width2", "30");
  setup->findChild<QCheckBox*>(qm::catalog::settings::kUseStackedPages)->setChecked(true);
  Button(setup, "Create New Database")->click();
  Button(setup, "Save Setup")->click();
}

}  // namespace

class WorkflowTest : public QObject {
  Q_OBJECT

 private slots:
  void FromAnEmptyFolderToTheServer() {
    qm::net::test::PyFtpServer server;
    QVERIFY(server.Started());
    const QString remote = QString::fromStdString(server.Root()) + "/onlinecatalog/";
    QVERIFY(QDir().mkpath(remote));
    QTemporaryDir work, config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QDir::setCurrent(work.path());

    qm::gui::TCatMainForm main;
    qm::gui::TcatdatForm* products = qm::gui::InstallProductWindow(main);
    qm::catalog::UploadOptions options;
    options.port = QString::number(server.Port());
    qm::gui::InstallUploadCatalog(main, options);
    main.show();
    BoxAnswerer answers;

    QTimer::singleShot(0, main.SetupForm(), [&main] { FillInSetup(main.SetupForm()); });
    main.SetupAction()->trigger();
    QCOMPARE(answers.texts, QStringList({"catalog.dbf has been created"}));
    QVERIFY(QFile::exists(QString::fromStdString(qm::catalog::ProductTable().TablePath())) && QFile::exists("CATALOG.DBT"));

    main.CatalogAction()->trigger();
    QVERIFY(products->isVisible() && products->Grid()->isEnabled());
    qm::gui::DataSetTableModel* grid = products->Model();
    for (const auto& [key, item, notes] : {std::tuple{"B200", "Brass bell", "Rings clear."}, {"A100", "Anvil", "Forged."}}) {
      products->Navigator()->Click(qm::gui::DataSetNavigator::Insert);
      const int row = grid->rowCount() - 1;
      QVERIFY(grid->setData(grid->index(row, 0), QString::fromLatin1(key)));
      QVERIFY(grid->setData(grid->index(row, 1), QString::fromLatin1(item)));
      products->Memo()->setFocus();
      QTest::keyClicks(products->Memo(), QString::fromLatin1(notes));
      products->Navigator()->Click(qm::gui::DataSetNavigator::Post);
    }
    QCOMPARE(answers.texts.size(), 1);  // nothing refused

    Action(&main, "&Build Local")->trigger();
    QCOMPARE(answers.texts.mid(1), QStringList({"catalog.htm created", "Stacked Pages Created"}));
    const QString page = QString::fromLatin1(FileBytes("catalog.htm"));
    QVERIFY(page.contains("Quill &amp; Daughters") || page.contains("Quill & Daughters"));
    QVERIFY(page.indexOf("A100") >= 0 && page.indexOf("A100") < page.indexOf("B200"));  // key order: window open

    main.UploadCatalogAction()->trigger();
    QCOMPARE(answers.texts.mid(3), QStringList({"Connect to the Net, then click OK", " Catalog has been uploaded "}));
    const QStringList listed = QString::fromLatin1(FileBytes("upload.txt")).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(listed.size(), 3);
    for (const QString& name : listed) QCOMPARE(FileBytes(remote + name), FileBytes(name));
    QVERIFY(FileBytes(remote + "A100.htm").contains("Forged."));
  }
};

QTEST_MAIN(WorkflowTest)
#include "workflow_qtest.moc"
