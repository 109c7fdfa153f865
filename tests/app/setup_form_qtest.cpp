// The setup dialog offscreen: what it loads on every show, what "Save Setup"
// writes (the column count from the last heading), Cancel, the colour buttons
// and Create New Database with its overwrite question, checked with dbfread.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QProgressDialog>
#include <QTimer>
#include <QtTest>

#include "app/core/settings_store.h"
#include "app/gui/color_picker.h"
#include "app/gui/database_help.h"
#include "app/gui/setup_form.h"
#include "tests/app/box_answerer.h"
#include "ftp_servers_util.h"
#include "tests/app/window_lookup.h"

using qm::catalog::SettingsStore;
using qm::gui::TSetupForm;
using qm::test::BoxAnswerer;
using qm::test::Button;
using qm::test::FileBytes;

namespace {

QLineEdit* Edit(QWidget* root, const QString& name) { return root->findChild<QLineEdit*>(name); }

// The table's fields as dbfread sees them ("NAME:C:8,..."), then its record count.
QString DbfreadSummary(const QString& path) {
  QProcess p;
  p.start("/usr/bin/python3", {"-c",
                               "import sys, dbfread\n"
                               "t = dbfread.DBF(sys.argv[1], load=True)\n"
                               "print(','.join('%s:%s:%d' % (f.name, f.type, f.length) for f in t.fields), len(t.records))",
                               path});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError());
}

}  // namespace

class SetupFormTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    m_scratch = std::make_unique<qm::test::WindowScratch>();
  }

  void FirstShowOnAnEmptyStore() {
    TSetupForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Quillmart Setup"));
    QStringList tabs;
    for (int i = 0; i < form.Tabs()->count(); ++i) tabs << form.Tabs()->tabText(i);
    QCOMPARE(tabs, QStringList({"Company Info", "Web Page Setup", "Table Setup", "Site Setup", "Database Setup",
                                "Stacked Pages"}));
    form.show();
    for (QLineEdit* e : form.findChildren<QLineEdit*>())
      if (!e->objectName().startsWith("width") && !e->objectName().startsWith("dbfname") && e->isEnabled())
        QVERIFY2(e->text().isEmpty(), qPrintable(e->objectName()));
    auto* yes = form.findChild<QCheckBox*>("usestackedpages");
    auto* memo = form.findChild<QPlainTextEdit*>("stacked text");
    QVERIFY(yes->isChecked() && memo->isEnabled() && memo->toPlainText().isEmpty());
    yes->setChecked(false);
    QVERIFY(!memo->isEnabled());
    QCOMPARE(Edit(&form, "dbfname1")->text(), QStringLiteral("keyname"));
    QCOMPARE(Edit(&form, "width1")->text(), QStringLiteral("8"));
    QVERIFY(!Edit(&form, "dbfname1")->isEnabled() && !Edit(&form, "pagecolor")->isEnabled());
    QCOMPARE(Edit(&form, "dbfname2")->maxLength(), 8);
    QCOMPARE(Button(&form, "Create New Database")->toolTip(), QStringLiteral("**WARNING** will overwrite existing database"));
  }

  // Typing stops at 255 characters as stored, a line break counting two (CR LF);
  // a longer paragraph written by another program is shown and saved whole.
  void ParagraphHoldsAtMost255Characters() {
    TSetupForm form;
    form.show();
    auto* memo = form.findChild<QPlainTextEdit*>("pageparagraph");
    QTest::keyClicks(memo, QString(250, 'a'));
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "bcdef");
    QCOMPARE(memo->toPlainText(), QString(250, 'a') + "\nbcd");
    const QString longer = QString(300, 'x');
    SettingsStore().WriteString("Web Page Setup", "pageparagraph", longer);
    form.hide();
    form.show();
    QCOMPARE(memo->toPlainText(), longer);
    Button(&form, "Save Setup")->click();
    QCOMPARE(SettingsStore().ReadString("Web Page Setup", "pageparagraph", {}), longer);
  }

  // Every value goes to its section and ident and comes back on the next show;
  // headings 1 and 3 give three columns, no heading none.
  void SaveAndLoadRoundTrip() {
    {
      TSetupForm form;
      form.show();
      for (const char* name : {"Name", "Address", "City", "Prov", "Pcode", "Tel", "Email", "pagetitle",
                               "pageheading", "remote address", "user name", "remote directory",
                               "remote password", "pagecolor", "tablecellbkcolor"})
        Edit(&form, name)->setText(QString("v-") + name);
      form.findChild<QPlainTextEdit*>("pageparagraph")->setPlainText("First line\nsecond line");
      Edit(&form, "Field1")->setText("Code");
      Edit(&form, "Field3")->setText("Price");
      form.findChild<QCheckBox*>("usestackedpages")->setChecked(false);
      Button(&form, "Save Setup")->click();
      QVERIFY(!form.isVisible());
    }
    {
      const SettingsStore store;
      QCOMPARE(store.ReadString("Company Info", "Pcode", "-"), QStringLiteral("v-Pcode"));
      QCOMPARE(store.ReadString("Site Setup", "remote password", "-"), QStringLiteral("v-remote password"));
      QCOMPARE(store.ReadString("Table Setup", "tablecellbkcolor", "-"), QStringLiteral("v-tablecellbkcolor"));
      QCOMPARE(store.ReadString("Web Page Setup", "pageparagraph", "-"), QStringLiteral("First line\r\nsecond line"));
      for (const char* empty : {"Field2", "Field4", "Field5"}) {
        QVERIFY(store.ValueExists("Database", empty));
        QCOMPARE(store.ReadString("Database", empty, "-"), QString());
      }
      QCOMPARE(store.ReadInteger("Database", "Columns", -1), 3);
      QCOMPARE(store.ReadString("Stacked Pages", "usestackedpages", "-"), QStringLiteral("0"));
    }
    TSetupForm again;
    again.show();
    QCOMPARE(Edit(&again, "remote directory")->text(), QStringLiteral("v-remote directory"));
    QCOMPARE(Edit(&again, "Field3")->text(), QStringLiteral("Price"));
    QCOMPARE(again.findChild<QPlainTextEdit*>("pageparagraph")->toPlainText(), QStringLiteral("First line\nsecond line"));
    QVERIFY(!again.findChild<QCheckBox*>("usestackedpages")->isChecked());
    for (const char* heading : {"Field1", "Field3"}) Edit(&again, heading)->clear();
    again.findChild<QPlainTextEdit*>("stacked text")->setPlainText("Call us.");
    Button(&again, "Save Setup")->click();
    const SettingsStore store;
    QCOMPARE(store.ReadInteger("Database", "Columns", -1), 0);
    // Stored "off" with a default text: the next show has stacked pages on.
    QCOMPARE(store.ReadString("Stacked Pages", "usestackedpages", "-"), QStringLiteral("0"));
    again.show();
    QVERIFY(again.findChild<QCheckBox*>("usestackedpages")->isChecked());
  }

  // The data connection, TLS and connections choices: the defaults on an empty store, the
  // stored words shown and written back, a value the dialog does not know
  // shown as the default; the original site fields keep their places.
  void ConnectionChoicesRoundTrip() {
    TSetupForm form;
    form.show();
    auto* mode = form.findChild<QComboBox*>("connection mode");
    auto* tls = form.findChild<QComboBox*>("TLS");
    auto* connections = form.findChild<QComboBox*>("connections");
    QVERIFY(mode && tls && connections);
    QCOMPARE(mode->currentData().toString(), QStringLiteral("automatic"));
    QCOMPARE(tls->currentData().toString(), QStringLiteral("if offered"));
    QCOMPARE(connections->currentData().toString(), QStringLiteral("4"));
    {
      SettingsStore store;
      store.WriteString("Site Setup", "connection mode", "Active");
      store.WriteString("Site Setup", "TLS", "sometimes");
      store.WriteString("Site Setup", "connections", "3");  // as the command line may set it
    }
    form.hide();
    form.show();
    QCOMPARE(mode->currentData().toString(), QStringLiteral("active"));
    QCOMPARE(tls->currentData().toString(), QStringLiteral("if offered"));
    QCOMPARE(connections->currentData().toString(), QStringLiteral("3"));
    mode->setCurrentIndex(mode->findData("passive"));
    tls->setCurrentIndex(tls->findData("plain"));
    connections->setCurrentIndex(connections->findData("1"));
    Edit(&form, "remote address")->setText("ftp.example.com");
    Button(&form, "Save Setup")->click();
    {
      const SettingsStore store;
      QCOMPARE(store.ReadString("Site Setup", "connection mode", "-"), QStringLiteral("passive"));
      QCOMPARE(store.ReadString("Site Setup", "TLS", "-"), QStringLiteral("plain"));
      QCOMPARE(store.ReadString("Site Setup", "connections", "-"), QStringLiteral("1"));
      QCOMPARE(store.ReadString("Site Setup", "remote address", "-"), QStringLiteral("ftp.example.com"));
    }
    TSetupForm again;
    again.show();
    QCOMPARE(again.findChild<QComboBox*>("connection mode")->currentData().toString(), QStringLiteral("passive"));
    QCOMPARE(again.findChild<QComboBox*>("TLS")->currentData().toString(), QStringLiteral("plain"));
    // The form's rows: the four original fields first, the new choices after them.
    again.Tabs()->setCurrentIndex(3);
    QCoreApplication::processEvents();
    const auto* site = again.findChild<QLineEdit*>("remote password")->parentWidget();
    QVERIFY(site->findChild<QComboBox*>("TLS") && Button(const_cast<QWidget*>(site), "Test connection"));
    QVERIFY(Edit(&again, "remote password")->mapTo(site, QPoint()).y() <
            again.findChild<QComboBox*>("connection mode")->mapTo(site, QPoint()).y());
  }

  // "Test connection" on the values as typed, against pyftpdlib requiring TLS
  // with a self-signed certificate: the fingerprint is shown and nothing is
  // trusted when the user says No; Yes stores it and the check goes on to say
  // what works, storing the mode that worked. Nothing typed is saved.
  void TestConnectionTrustsTheCertificateOnlyWhenAsked() {
    qm::net::test::TestCertificate certificate;
    QVERIFY(!certificate.fingerprint.empty());
    qm::net::test::PyFtpServer server({"--tls", certificate.pem});
    QVERIFY(server.Started());
    SettingsStore().WriteString("Site Setup", "remote address", "stored.example.com");
    TSetupForm form;
    form.show();
    Edit(&form, "remote address")->setText(QString("127.0.0.1:%1").arg(server.Port()));
    Edit(&form, "user name")->setText("user");
    Edit(&form, "remote password")->setText("secret");
    Edit(&form, "remote directory")->setText("site/");
    Edit(&form, "Name")->setText("Unsaved Shop");
    auto* tls = form.findChild<QComboBox*>("TLS");
    tls->setCurrentIndex(tls->findData("required"));
    const QString fingerprint = QString::fromStdString(certificate.fingerprint);
    {
      BoxAnswerer answers(QMessageBox::No);
      Button(&form, "Test connection")->click();
      QVERIFY2(answers.texts.size() == 1, qPrintable(answers.texts.join(" | ")));
      QVERIFY2(answers.texts[0].contains(fingerprint) && answers.texts[0].contains("could not be verified"),
               qPrintable(answers.texts[0]));
      QVERIFY(!SettingsStore().ValueExists("Site Setup", "trusted certificate"));
    }
    BoxAnswerer answers(QMessageBox::Yes);
    Button(&form, "Test connection")->click();
    QVERIFY2(answers.texts.size() == 2, qPrintable(answers.texts.join(" | ")));
    QVERIFY2(answers.texts[1].contains("logged in as user over TLS.") &&
                 answers.texts[1].contains("Data connections work in") &&
                 answers.texts[1].contains("The remote directory site does not exist yet"),
             qPrintable(answers.texts[1]));
    QCOMPARE(answers.icons[1], QMessageBox::Information);
    QVERIFY(QApplication::overrideCursor() == nullptr && form.isEnabled());
    const SettingsStore store;
    QCOMPARE(store.ReadString("Site Setup", "trusted certificate", {}), fingerprint);
    QVERIFY2(store.ReadString("Site Setup", "mode that worked", {}).startsWith("127.0.0.1"),
             qPrintable(store.ReadString("Site Setup", "mode that worked", {})));
    QCOMPARE(store.ReadString("Site Setup", "remote address", {}), QStringLiteral("stored.example.com"));
    QVERIFY(!store.ValueExists("Company Info", "Name"));
    QVERIFY(!store.ValueExists("Site Setup", "TLS"));
  }

  // A server that never answers: the check's Cancel gives it up at once,
  // instead of holding the dialog for the whole time-out.
  void TestConnectionCanBeCancelled() {
    using F = qm::net::test::FakeFtpServer;
    F silent({F::Hold()});
    TSetupForm form;
    form.show();
    Edit(&form, "remote address")->setText(QString("127.0.0.1:%1").arg(silent.Port()));
    Edit(&form, "user name")->setText("user");
    Edit(&form, "remote password")->setText("secret");
    bool shown = false;
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, [&] {
      if (auto* busy = form.findChild<QProgressDialog*>("checkProgress"); busy && busy->isVisible()) {
        shown = true;
        busy->cancel();
      }
    });
    canceller.start(50);
    BoxAnswerer answers;
    Button(&form, "Test connection")->click();
    QVERIFY(shown);
    QVERIFY2(answers.texts.size() == 1, qPrintable(answers.texts.join(" | ")));
    QVERIFY2(answers.texts[0].startsWith("Cancelled: the connection to 127.0.0.1 port"), qPrintable(answers.texts[0]));
    QVERIFY(!form.findChild<QProgressDialog*>("checkProgress"));
  }

  void CancelDiscardsEdits() {
    SettingsStore().WriteString("Company Info", "Name", "Stored Shop");
    TSetupForm form;
    form.show();
    Edit(&form, "Name")->setText("Unsaved");
    Edit(&form, "Field2")->setText("Unsaved heading");
    Button(&form, "Cancel")->click();
    QVERIFY(!form.isVisible());
    QCOMPARE(SettingsStore().ReadString("Company Info", "Name", "-"), QStringLiteral("Stored Shop"));
    QVERIFY(!SettingsStore().ValueExists("Database", "Field2"));
    form.show();
    QCOMPARE(Edit(&form, "Name")->text(), QStringLiteral("Stored Shop"));
    QCOMPARE(Edit(&form, "Field2")->text(), QString());
  }

  // A colour button shows the picker; its choice replaces the edit's text.
  // Closed without a choice, the edit takes the clipboard only when it holds a colour.
  void ColourButtonsTakeThePickersChoice() {
    TSetupForm form;
    form.show();
    qm::gui::TColorGrid* grid = form.ColorPicker()->Grid();
    QTimer::singleShot(50, grid, [grid] { QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(10).center()); });
    Button(&form, "Page Color")->click();
    QCOMPARE(Edit(&form, "pagecolor")->text(), QStringLiteral("Lime"));
    QApplication::clipboard()->setText("Teal");
    QTimer::singleShot(50, form.ColorPicker(), [&] { form.ColorPicker()->close(); });
    Button(&form, "Bkgrnd Color", 1)->click();  // the table cells' background
    QCOMPARE(Edit(&form, "tablecellbkcolor")->text(), QStringLiteral("Teal"));
    QCOMPARE(Edit(&form, "pagecolor")->text(), QStringLiteral("Lime"));
    // Text that is no colour the pages accept leaves the edit as it was.
    for (const QString clip : {"hello clipboard", "#12345", "Navy\nblue", "", "transparent"}) {
      QApplication::clipboard()->setText(clip);
      QTimer::singleShot(50, form.ColorPicker(), [&] { form.ColorPicker()->close(); });
      Button(&form, "Bkgrnd Color", 1)->click();
      QCOMPARE(Edit(&form, "tablecellbkcolor")->text(), QStringLiteral("Teal"));
    }
    QApplication::clipboard()->setText("#1a2B3c");
    QTimer::singleShot(50, form.ColorPicker(), [&] { form.ColorPicker()->close(); });
    Button(&form, "Bkgrnd Color", 1)->click();
    QCOMPARE(Edit(&form, "tablecellbkcolor")->text(), QStringLiteral("#1a2B3c"));
  }

  // Cancel keeps the old table, memo file and index byte for byte; OK makes
  // a new empty table that dbfread reads, and drops the old index.
  void CreateNewDatabaseAnsweredCancelThenOk() {
    QVERIFY(QFile::copy(QM_TEST_DATA "/catalog/catalog.dbf", Work("catalog.dbf")));
    QVERIFY(QFile::copy(QM_TEST_DATA "/catalog/catalog.dbt", Work("CATALOG.DBT")));
    QFile ndx(Work("CATALOG.NDX"));
    QVERIFY(ndx.open(QIODevice::WriteOnly) && ndx.write(QByteArray(1024, '\x01')) == 1024);
    ndx.close();
    const QByteArray dbf = FileBytes(Work("catalog.dbf")), dbt = FileBytes(Work("CATALOG.DBT"));
    TSetupForm form;
    QSignalSpy released(&form, &TSetupForm::ProductTableMustClose);
    form.show();
    Edit(&form, "dbfname2")->setText("item");
    Edit(&form, "width2")->setText("30");
    Edit(&form, "dbfname3")->setText("price ");
    Edit(&form, "width3")->setText(" 255");  // as wide as a field can be
    Edit(&form, "width4")->setText("12");  // no name: the row is left out
    {
      BoxAnswerer answers(QMessageBox::Cancel);
      Button(&form, "Create New Database")->click();
      QCOMPARE(answers.texts, QStringList({"Table exists.  Do you want to overwrite?"}));
      QCOMPARE(answers.captions, QStringList({"Warning"}));
    }
    QCOMPARE(released.count(), 0);
    QCOMPARE(FileBytes(Work("catalog.dbf")), dbf);
    QCOMPARE(FileBytes(Work("CATALOG.DBT")), dbt);
    QCOMPARE(FileBytes(Work("CATALOG.NDX")), QByteArray(1024, '\x01'));
    {
      BoxAnswerer answers(QMessageBox::Ok);
      Button(&form, "Create New Database")->click();
      QCOMPARE(answers.texts, QStringList({"Table exists.  Do you want to overwrite?", "catalog.dbf has been created"}));
    }
    QCOMPARE(released.count(), 1);
    QVERIFY(!QFile::exists(Work("CATALOG.NDX")));
    QCOMPARE(DbfreadSummary(Work("catalog.dbf")), QStringLiteral("KEYNAME:C:8,ITEM:C:30,PRICE:C:255,SNOTES:M:10 0"));
  }

  // A list the table cannot be made from is refused before anything is asked or touched.
  void CreateNewDatabaseRefusesABadList() {
    const std::vector<std::string> lines =
        qm::gui::NewFieldLines({{{"keyname", "8"}, {"item", "30"}, {"price", "10"}, {"", "5"}, {"", ""}}});
    QCOMPARE(lines, std::vector<std::string>({"keyname;C;8;0", "item;C;30;0", "price;C;10;0", "Snotes;M;10;0"}));
    TSetupForm form;
    form.show();
    Edit(&form, "dbfname2")->setText("item");
    Edit(&form, "width2")->setText("300");
    BoxAnswerer answers(QMessageBox::Ok);
    Button(&form, "Create New Database")->click();
    Edit(&form, "width2")->setText("30");
    Edit(&form, "dbfname3")->setText("ITEM");
    Edit(&form, "width3")->setText("5");
    Button(&form, "Create New Database")->click();
    QVERIFY2(answers.texts.size() == 2, qPrintable(answers.texts.join(" | ")));
    QVERIFY2(answers.texts[0].startsWith("Field list is invalid") && answers.texts[0].contains("\"item\"") &&
                 answers.texts[0].contains("1 to 255") && answers.texts[0].contains("300"),
             qPrintable(answers.texts[0]));
    QVERIFY2(answers.texts[1].startsWith("Field list is invalid") && answers.texts[1].contains("ITEM"),
             qPrintable(answers.texts[1]));
    QVERIFY(QDir(m_scratch->Work()).isEmpty());
  }

  void HelpWindowStaysBesideTheDialog() {
    TSetupForm form;
    form.show();
    Button(&form, "&Help")->click();
    QVERIFY(form.HelpForm()->isVisible() && !form.HelpForm()->isModal());
    QCOMPARE(form.HelpForm()->windowTitle(), QStringLiteral("Help on Database Creation"));
    QCOMPARE(form.HelpForm()->Memo()->document()->blockCount(), 61);
    QCOMPARE(qm::gui::DatabaseHelpLines().at(20), QStringLiteral("   This can contain a number not to exceed \"255\". "));
  }

 private:
  QString Work(const QString& name) const { return m_scratch->Work(name); }
  std::unique_ptr<qm::test::WindowScratch> m_scratch;
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillmart");
  SetupFormTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "setup_form_qtest.moc"
