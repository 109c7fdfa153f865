// Drives the main window offscreen: the menu and its keys, Build Local, the
// error box, Preview and Contents, the catalog folder and the start arguments.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QSignalSpy>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/core/settings_store.h"
#include "tests/app/box_answerer.h"
#include "tests/app/window_lookup.h"
#include "app/gui/about_box.h"
#include "app/gui/artwork.h"
#include "app/gui/main_window.h"
#include "app/gui/setup_form.h"
#include "app/gui/upload_catalog_ui.h"
#include "app/gui/wallpaper.h"
#include "app/gui/work_folder.h"

using qm::gui::TCatMainForm;

namespace {

using qm::test::BoxAnswerer;

QAction* MenuItem(TCatMainForm& form, const QString& menu, const QString& item) {
  for (QAction* top : form.menuBar()->actions()) {
    if (top->text() != menu) continue;
    if (item.isEmpty()) return top;
    for (QAction* a : top->menu()->actions())
      if (a->text() == item) return a;
  }
  return nullptr;
}

// Takes the place of the desktop's file opener.
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  explicit UrlRecorder(QList<QUrl>* out) : m_out(out) {}
  Q_INVOKABLE void Open(const QUrl& url) { m_out->append(url); }

 private:
  QList<QUrl>* m_out;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  // Every scenario starts in an empty working folder with an empty store.
  void init() {
    m_scratch = std::make_unique<qm::test::WindowScratch>();
    QVERIFY(m_scratch->IsValid());
  }

  void EveryMenuItemEnabledWithItsKeys() {
    TCatMainForm form;
    QWidget products;
    form.InstallCatalogWindow(&products);
    qm::gui::InstallUploadCatalog(form);
    QCOMPARE(form.windowTitle(), "Quillmart - " + QDir::toNativeSeparators(QDir::currentPath()));
    QStringList tops;
    for (QAction* a : form.menuBar()->actions()) tops << a->text();
    QCOMPARE(tops, QStringList({"&File", "&Product", "&Setup", "&Build", "&Help"}));
    QStringList items;
    for (QAction* top : form.menuBar()->actions()) {
      QVERIFY(top->isEnabled());
      if (!top->menu()) continue;
      for (QAction* a : top->menu()->actions()) {
        QVERIFY2(a->isEnabled(), qPrintable(a->text()));
        if (!a->isSeparator()) items << a->text();
      }
    }
    QCOMPARE(items, QStringList({"&Open Folder...", "E&xit", "&Catalog", "&Build Local", "&Preview",
                                 "&Upload Catalog", "&Contents", "&About"}));
    QCOMPARE(MenuItem(form, "&File", "E&xit")->shortcut(), QKeySequence("Ctrl+Q"));
    QCOMPARE(MenuItem(form, "&Help", "&Contents")->shortcut(), QKeySequence("F1"));
    QVERIFY(!form.ProgressBar()->isVisible());
    QCOMPARE(form.findChildren<QCheckBox*>().size(), 5 + 1);  // the checklist and the setup's "Yes"
    QVERIFY(form.minimumWidth() >= 500 && form.minimumHeight() > 200);
  }

  // Setup is modal and loads on show; About is not modal and keeps its place.
  void SetupAndAboutFromTheMenu() {
    qm::catalog::SettingsStore().WriteString("Company Info", "Name", "Shop");
    TCatMainForm form;
    form.show();
    bool sawSetup = false;
    QTimer::singleShot(50, &form, [&] {
      auto* setup = qobject_cast<qm::gui::TSetupForm*>(QApplication::activeModalWidget());
      sawSetup = setup && setup->findChild<QLineEdit*>("Name")->text() == "Shop";
      if (setup) setup->reject();
    });
    MenuItem(form, "&Setup", "")->trigger();
    QVERIFY(sawSetup);
    MenuItem(form, "&Help", "&About")->trigger();
    QVERIFY(form.AboutBox()->isVisible() && !form.AboutBox()->isModal());
  }

  // Product > Catalog waits for its window, then shows it without a message.
  void CatalogShowsTheInstalledWindow() {
    TCatMainForm form;
    QVERIFY(!MenuItem(form, "&Product", "&Catalog")->isEnabled());
    QWidget products;
    form.InstallCatalogWindow(&products);
    BoxAnswerer answers;
    MenuItem(form, "&Product", "&Catalog")->trigger();
    QVERIFY(products.isVisible());
    QVERIFY(answers.texts.isEmpty());
  }

  void BuildLocalWritesPagesAndShowsBothNotices() {
    CopyFixtureTable();
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
    QCOMPARE(form.ProgressBar()->value(), 3);
    QVERIFY(!answers.busyCursorShown);
    QVERIFY(!QApplication::overrideCursor());
    QFile list(WorkFile("upload.txt"));
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
    // Under it, in plain words, where the table is made.
    QVERIFY2(answers.details[0].contains("no product table yet") &&
                 answers.details[0].contains("Setup, on the Database Setup tab (Create New Database)"),
             qPrintable(answers.details[0]));
    // The next command starts afresh and succeeds once the table is there.
    CopyFixtureTable();
    MenuItem(form, "&Build", "&Build Local")->trigger();
    QCOMPARE(answers.texts.last(), QStringLiteral("catalog.htm created"));
    // A failure with the table present gets no next step.
    QFile damaged(WorkFile("catalog.dbf"));
    QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(QByteArray(40, '\x04')) == 40);
    damaged.close();
    MenuItem(form, "&Build", "&Build Local")->trigger();
    QCOMPARE(answers.icons.last(), QMessageBox::Critical);
    QCOMPARE(answers.details.last(), QString());
    QVERIFY(form.isVisible());
  }

  void PreviewAndContentsOpenTheRightFiles() {
    QList<QUrl> opened;
    UrlRecorder recorder(&opened);
    QDesktopServices::setUrlHandler("file", &recorder, "Open");
    TCatMainForm form;
    MenuItem(form, "&Build", "&Preview")->trigger();
    MenuItem(form, "&Help", "&Contents")->trigger();  // no help.htm here: the installed copy
    QFile local(WorkFile("help.htm"));
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.close();
    MenuItem(form, "&Help", "&Contents")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened[0].toLocalFile(), WorkFile("catalog.htm"));
    QCOMPARE(opened[1].toLocalFile(), QCoreApplication::applicationDirPath() + "/help.htm");
    QCOMPARE(opened[2].toLocalFile(), WorkFile("help.htm"));
  }

  // Offscreen there is no desktop to hand pages to: the error box says so.
  void PreviewWithoutABrowserIsReported() {
    TCatMainForm form;
    BoxAnswerer answers;
    MenuItem(form, "&Build", "&Preview")->trigger();
    QCOMPARE(answers.texts.size(), 1);
    QVERIFY2(answers.texts[0].startsWith("No web browser could be started to open ") &&
                 answers.texts[0].contains("catalog.htm"),
             qPrintable(answers.texts[0]));
    QCOMPARE(answers.icons.value(0), QMessageBox::Critical);
  }

  void WorkFolderIsEnteredAndRemembered() {
    QCOMPARE(qm::gui::RememberedWorkFolder(), QString());
    QTemporaryDir shop;
    qm::gui::EnterWorkFolder(shop.path());
    QCOMPARE(QDir::currentPath(), QDir(shop.path()).canonicalPath());
    QCOMPARE(QDir(qm::gui::RememberedWorkFolder()).canonicalPath(), QDir(shop.path()).canonicalPath());
    TCatMainForm form;
    QVERIFY(form.windowTitle().endsWith(QDir::toNativeSeparators(QDir::currentPath())));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, qm::gui::EnterWorkFolder(shop.filePath("missing")));
    QCOMPARE(QDir::currentPath(), QDir(shop.path()).canonicalPath());
    QDir::setCurrent(m_scratch->Work());
    // A remembered folder that is gone is not offered again.
    QVERIFY(QDir(shop.path()).removeRecursively());
    QCOMPARE(qm::gui::RememberedWorkFolder(), QString());
  }

  void OpenFolderSwitchesTheWorkingFolder() {
    QTemporaryDir shop;
    TCatMainForm form;
    QSignalSpy changed(&form, &TCatMainForm::WorkFolderChanged);
    QTimer::singleShot(100, &form, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialog->setDirectory(shop.path());
      QMetaObject::invokeMethod(dialog, "accept");
    });
    MenuItem(form, "&File", "&Open Folder...")->trigger();
    QCOMPARE(QDir::currentPath(), QDir(shop.path()).canonicalPath());
    QCOMPARE(changed.count(), 1);
    QVERIFY(form.windowTitle().endsWith(QDir::toNativeSeparators(QDir::currentPath())));
    QCOMPARE(QDir(qm::gui::RememberedWorkFolder()).canonicalPath(), QDir(shop.path()).canonicalPath());
    QDir::setCurrent(m_scratch->Work());
  }

  void StartArguments() {
    using Action = qm::gui::StartOptions::Action;
    QCOMPARE(qm::gui::ParseStartArguments({}).action, Action::Run);
    QCOMPARE(qm::gui::ParseStartArguments({"/shop"}).folder, QStringLiteral("/shop"));
    QCOMPARE(qm::gui::ParseStartArguments({"/shop", "--version"}).action, Action::ShowVersion);
    QCOMPARE(qm::gui::ParseStartArguments({"--help"}).action, Action::ShowHelp);
    QCOMPARE(qm::gui::ParseStartArguments({"--colour"}).error, QStringLiteral("Unknown option: --colour"));
    QCOMPARE(qm::gui::ParseStartArguments({"a", "b"}).action, Action::Fail);
    // The program answers these two without any display; options and folders
    // are checked once Qt has taken its own options.
    QProcess program;
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) noDisplay.remove(name);
    program.setProcessEnvironment(noDisplay);
    const auto run = [&program](const QStringList& args) {
      program.start(QM_QUILLMART, args);
      program.waitForFinished(30000);
      return QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
    };
    QCOMPARE(run({"--version"}), QStringLiteral("quillmart " QM_VERSION "\n"));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(run({"--help"}).startsWith("usage: quillmart [FOLDER]\n"));
    program.setProcessEnvironment(QProcessEnvironment::systemEnvironment());  // offscreen
    QVERIFY(run({"--frobnicate"}).contains("quillmart: Unknown option: --frobnicate\n"));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(run({WorkFile("missing")}).contains("quillmart: no such folder: " + WorkFile("missing")));
    QCOMPARE(program.exitCode(), 2);
  }

  // A 1-pixel frame and a 10 x 10 tile on a 35 x 22 panel: tiles start at
  // x = 1, 11, 21, 31 and y = 1, 11, 21 and are cut at the frame's inner edge
  // (x = 33, y = 20), so the row starting at y = 21 is cut away whole.
  void WallpaperTilesInsideTheFrame() {
    QPixmap tile(10, 10);
    tile.fill(Qt::green);
    QPainter(&tile).fillRect(0, 0, 1, 1, Qt::red);  // marks each tile's corner
    qm::gui::TWallpaper panel;
    panel.setFrameStyle(QFrame::Box | QFrame::Plain);
    panel.setLineWidth(1);
    panel.resize(35, 22);
    panel.SetWallpaper(tile);
    const QImage shot = panel.grab().toImage();
    for (int x : {1, 11, 21, 31})
      for (int y : {1, 11}) QCOMPARE(shot.pixelColor(x, y), QColor(Qt::red));
    QCOMPARE(shot.pixelColor(33, 20), QColor(Qt::green));
    QCOMPARE(shot.pixelColor(34, 11), QColor(Qt::black));  // the frame, not a tile
    QCOMPARE(shot.pixelColor(31, 21), QColor(Qt::black));
    QVERIFY(shot.pixelColor(0, 0) != QColor(Qt::red));
    // A tile drawn for 2x has twice the pixels and is laid out at its logical size.
    QPixmap sharp(20, 20);
    sharp.fill(Qt::green);
    QPainter(&sharp).fillRect(0, 0, 2, 2, Qt::red);
    sharp.setDevicePixelRatio(2);
    panel.SetWallpaper(sharp);
    const QImage again = panel.grab().toImage();
    for (int x : {1, 11, 21, 31}) QCOMPARE(again.pixelColor(x, 11), QColor(Qt::red));
    QCOMPARE(qm::gui::BannerImage(2).size(), QSize(1000, 80));
    QCOMPARE(qm::gui::BannerImage(2).deviceIndependentSize(), QSizeF(500, 40));
  }

 private:
  void CopyFixtureTable() {
    for (const QString name : {"catalog.dbf", "catalog.dbt"})
      QVERIFY(QFile::copy(QM_TEST_DATA "/catalog/" + name, WorkFile(name)));
  }

  QString WorkFile(const QString& name) const { return m_scratch->Work(name); }

  std::unique_ptr<qm::test::WindowScratch> m_scratch;
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillmart");
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_qtest.moc"
