// Drives the main window offscreen: Build Local from the menu, the error box,
// Preview and Contents, and the items that stay disabled for now.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/core/settings_store.h"
#include "app/gui/main_window.h"

using qm::gui::TCatMainForm;

namespace {

// Answers every modal box that opens (after recording its text) until stopped.
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    connect(&m_timer, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      texts << box->text();
      icons << box->icon();
      box->accept();
    });
    m_timer.start(20);
  }
  QStringList texts;
  QList<QMessageBox::Icon> icons;

 private:
  QTimer m_timer;
};

QAction* MenuItem(TCatMainForm& form, const QString& menu, const QString& item) {
  for (QAction* top : form.menuBar()->actions()) {
    if (top->text() != menu) continue;
    if (item.isEmpty()) return top;
    for (QAction* a : top->menu()->actions())
      if (a->text() == item) return a;
  }
  return nullptr;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    QVERIFY(m_work.isValid() && m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QDir::setCurrent(m_work.path());
  }

  void MenuCaptionsAndDisabledItems() {
    TCatMainForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Quillmart"));
    QStringList tops;
    for (QAction* a : form.menuBar()->actions()) tops << a->text();
    QCOMPARE(tops, QStringList({"&File", "&Product", "&Setup", "&Build", "&Help"}));
    QVERIFY(MenuItem(form, "&File", "E&xit")->isEnabled());
    QVERIFY(MenuItem(form, "&Build", "&Build Local")->isEnabled());
    QVERIFY(MenuItem(form, "&Build", "&Preview")->isEnabled());
    QVERIFY(MenuItem(form, "&Help", "&Contents")->isEnabled());
    QVERIFY(!MenuItem(form, "&Build", "&Upload Catalog")->isEnabled());
    QVERIFY(!MenuItem(form, "&Product", "&Catalog")->isEnabled());
    QVERIFY(!MenuItem(form, "&Setup", "")->isEnabled());
    QVERIFY(!MenuItem(form, "&Help", "&About")->isEnabled());
    QVERIFY(!form.ProgressBar()->isVisible());
    QCOMPARE(form.findChildren<QCheckBox*>().size(), 5);
    for (QCheckBox* box : form.findChildren<QCheckBox*>()) QVERIFY(box->isChecked());
  }

  void BuildLocalWritesPagesAndShowsBothNotices() {
    for (const char* name : {"catalog.dbf", "catalog.dbt"})
      QVERIFY(QFile::copy(QStringLiteral(QM_TEST_DATA "/catalog/") + name, m_work.filePath(name)));
    qm::catalog::SettingsStore store;
    store.WriteBool("Stacked Pages", "usestackedpages", true);
    store.WriteInteger("Database", "Columns", 2);
    TCatMainForm form;
    form.show();
    BoxAnswerer answers;
    MenuItem(form, "&Build", "&Build Local")->trigger();
    QCOMPARE(answers.texts, QStringList({"catalog.htm created", "Stacked Pages Created"}));
    QVERIFY(!form.ProgressBar()->isVisible());
    QCOMPARE(form.ProgressBar()->maximum(), 3);
    QFile list(m_work.filePath("upload.txt"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), QByteArray("catalog.htm\r\nA100.htm\r\nC300.htm\r\nD400.htm\r\n"));
  }

  void MissingTableShowsErrorBoxAndWindowGoesOn() {
    TCatMainForm form;
    form.show();
    BoxAnswerer answers;
    MenuItem(form, "&Build", "&Build Local")->trigger();
    QCOMPARE(answers.texts.size(), 1);
    QCOMPARE(answers.icons.value(0), QMessageBox::Critical);
    QVERIFY(answers.texts[0].startsWith("Cannot find file ") && answers.texts[0].endsWith("catalog.dbf"));
    // The next command starts afresh and succeeds once the table is there.
    for (const char* name : {"catalog.dbf", "catalog.dbt"})
      QVERIFY(QFile::copy(QStringLiteral(QM_TEST_DATA "/catalog/") + name, m_work.filePath(name)));
    MenuItem(form, "&Build", "&Build Local")->trigger();
    QCOMPARE(answers.texts.last(), QStringLiteral("catalog.htm created"));
    QVERIFY(form.isVisible());
  }

  void PreviewAndContentsOpenTheRightFiles() {
    QList<QUrl> opened;
    UrlRecorder recorder(&opened);
    QDesktopServices::setUrlHandler("file", &recorder, "Open");
    TCatMainForm form;
    MenuItem(form, "&Build", "&Preview")->trigger();
    MenuItem(form, "&Help", "&Contents")->trigger();  // no help.htm here: the installed copy
    QFile local(m_work.filePath("help.htm"));
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.close();
    MenuItem(form, "&Help", "&Contents")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened[0].toLocalFile(), m_work.filePath("catalog.htm"));
    QCOMPARE(opened[1].toLocalFile(), QCoreApplication::applicationDirPath() + "/help.htm");
    QCOMPARE(opened[2].toLocalFile(), m_work.filePath("help.htm"));
  }

 private:
  class UrlRecorder : public QObject {
   public:
    explicit UrlRecorder(QList<QUrl>* out) : m_out(out) {}
    Q_INVOKABLE void Open(const QUrl& url) { m_out->append(url); }

   private:
    QList<QUrl>* m_out;
  };

  QTemporaryDir m_work;
  QTemporaryDir m_config;
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillmart");
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_qtest.moc"
