#include "app/gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/core/build_local.h"
#include "app/core/catalog_page.h"
#include "app/core/engine_record_source.h"
#include "app/core/next_steps.h"
#include "app/gui/about_box.h"
#include "app/gui/artwork.h"
#include "app/gui/error_box.h"
#include "app/gui/setup_form.h"
#include "app/gui/version.h"
#include "app/gui/wallpaper.h"
#include "app/gui/work_folder.h"

namespace qm::gui {

namespace {

constexpr int kClientWidth = 559;
constexpr int kClientHeight = 295;
constexpr int kStripHeight = 17;

const char* const kChecklist[] = {
    "Build a product database locally", "Design your Online Catalog",
    "Create a Catalog Table and Stacked Pages", "Preview your Catalog", "Publish it on your Web site"};

// The user stopped Build Local while pages were written.
class BuildCancelled : public std::runtime_error {
 public:
  BuildCancelled() : std::runtime_error("Build Local cancelled") {}
};

// Shows Build Local's notices and steps the window's progress bar; a wait
// cursor shows while files are written, never over a notice. A long run of
// pages also shows a modal progress box with Cancel: the windows repaint
// while pages are written (a few times a second), and no other command can
// start meanwhile.
class WindowBuildObserver : public catalog::BuildObserver {
 public:
  WindowBuildObserver(QWidget* owner, QProgressBar* bar) : m_owner(owner), m_bar(bar) { Busy(true); }
  ~WindowBuildObserver() override { Busy(false); }

  void CatalogCreated() override { Notice(catalog::kCatalogCreatedMessage); }
  void PagesStarted(int recordCount) override {
    Busy(true);
    m_bar->setRange(0, recordCount);
    m_bar->setValue(0);
    m_bar->show();
    m_bar->raise();
    m_box = std::make_unique<QProgressDialog>(QObject::tr("Writing the stacked pages..."), QObject::tr("Cancel"), 0,
                                              std::max(1, recordCount), m_owner);
    m_box->setWindowTitle(QCoreApplication::applicationName());
    m_box->setWindowModality(Qt::ApplicationModal);
    m_box->setMinimumDuration(kBoxAfterMilliseconds);
    m_clock.start();
  }
  void PageWritten(int pagesDone) override {
    m_bar->setValue(pagesDone);
    if (m_clock.elapsed() < kRepaintMilliseconds) return;
    m_clock.restart();
    m_box->setValue(pagesDone);  // shows the box once the run is long; a modal box lets events through
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (m_box->wasCanceled()) throw BuildCancelled();
  }
  void PagesCreated() override {
    m_box.reset();
    Notice(catalog::kStackedPagesCreatedMessage);
    m_bar->hide();
  }
  void PagesAborted() override {
    m_box.reset();
    m_bar->hide();
  }

 private:
  static constexpr int kRepaintMilliseconds = 100;
  static constexpr int kBoxAfterMilliseconds = 1000;

  void Notice(const char* text) {
    Busy(false);
    ShowNotice(m_owner, QString::fromLatin1(text));
  }
  void Busy(bool on) {
    if (on == m_busy) return;
    m_busy = on;
    if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
  }

  QWidget* m_owner;
  QProgressBar* m_bar;
  std::unique_ptr<QProgressDialog> m_box;
  QElapsedTimer m_clock;
  bool m_busy = false;
};

// Keeps the progress bar over the left end of the status bar.
class ProgressPlacer : public QObject {
 public:
  ProgressPlacer(QStatusBar* bar, QProgressBar* progress) : QObject(bar), m_progress(progress) {
    bar->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) {
      auto* bar = static_cast<QWidget*>(watched);
      m_progress->move(3, (bar->height() - m_progress->height()) / 2);
    }
    return false;
  }

 private:
  QProgressBar* m_progress;
};

}  // namespace

QString HelpPagePath() {
  const QString local = QDir::current().absoluteFilePath(QStringLiteral("help.htm"));
  if (QFile::exists(local)) return local;
  const QDir appDir(QCoreApplication::applicationDirPath());
  const QString shared = appDir.absoluteFilePath(QStringLiteral("../share/quillmart/help.htm"));
  const QString beside = appDir.absoluteFilePath(QStringLiteral("help.htm"));
  return QFile::exists(beside) || !QFile::exists(shared) ? beside : QDir::cleanPath(shared);
}

TCatMainForm::TCatMainForm(QWidget* parent) : QMainWindow(parent) {
  UpdateTitle();
  setWindowIcon(AppIcon());
  m_sourceFactory = [] { return std::make_unique<catalog::EngineRecordSource>(); };
  // The windows of the workflow, created once and hidden until a command shows them.
  m_setup = new TSetupForm(this);
  m_about = new TAboutBox(this);
  CreateMenus();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreateChecklist(), 1);
  layout->addWidget(CreateBottomStrip());
  setCentralWidget(central);
  CreateStatusBar();

  // Smaller than this, the checklist would run into the bottom strip.
  setMinimumSize(minimumSizeHint());
  resize(QSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height()).expandedTo(minimumSizeHint()));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TCatMainForm::~TCatMainForm() = default;

void TCatMainForm::SetRecordSourceFactory(RecordSourceFactory factory) { m_sourceFactory = std::move(factory); }

void TCatMainForm::AddExitGuard(std::function<bool()> mayExit) { m_exitGuards.push_back(std::move(mayExit)); }

// Exit and the title-bar box end the program, once every window that holds
// unsaved work agreed; the other windows close with it.
void TCatMainForm::closeEvent(QCloseEvent* event) {
  for (const auto& mayExit : m_exitGuards) {
    if (!mayExit()) {
      event->ignore();
      return;
    }
  }
  event->accept();
  QCoreApplication::quit();
}

void TCatMainForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  connect(file->addAction(tr("&Open Folder...")), &QAction::triggered, this, &TCatMainForm::OpenFolder);
  file->addSeparator();
  QAction* exit = file->addAction(tr("E&xit"));
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(exit, &QAction::triggered, this, &QWidget::close);  // closeEvent ends the program

  QMenu* product = menuBar()->addMenu(tr("&Product"));
  m_catalogAction = product->addAction(tr("&Catalog"));
  m_catalogAction->setEnabled(false);  // enabled and connected by InstallCatalogWindow

  m_setupAction = menuBar()->addAction(tr("&Setup"));
  connect(m_setupAction, &QAction::triggered, m_setup, &QDialog::exec);

  QMenu* build = menuBar()->addMenu(tr("&Build"));
  connect(build->addAction(tr("&Build Local")), &QAction::triggered, this, &TCatMainForm::BuildLocal);
  connect(build->addAction(tr("&Preview")), &QAction::triggered, this, &TCatMainForm::Preview);
  m_uploadAction = build->addAction(tr("&Upload Catalog"));
  m_uploadAction->setEnabled(false);  // enabled and connected by InstallUploadCatalog

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  QAction* contents = help->addAction(tr("&Contents"));
  contents->setShortcut(QKeySequence(Qt::Key_F1));
  connect(contents, &QAction::triggered, this, &TCatMainForm::Contents);
  help->addSeparator();
  m_aboutAction = help->addAction(tr("&About"));
  connect(m_aboutAction, &QAction::triggered, m_about, [this] { ShowWindowInFront(m_about); });
}

void TCatMainForm::InstallCatalogWindow(QWidget* window) {
  m_catalogAction->setEnabled(true);
  connect(m_catalogAction, &QAction::triggered, window, [window] { ShowWindowInFront(window); });
}

QWidget* TCatMainForm::CreateChecklist() {
  auto* wallpaper = new TWallpaper(this);
  wallpaper->SetWallpaper(BackgroundTile());
  auto* layout = new QVBoxLayout(wallpaper);
  layout->setContentsMargins(29, 8, 29, 10);
  layout->setSpacing(7);
  auto* banner = new QLabel(wallpaper);
  banner->setPixmap(BannerImage());
  layout->addWidget(banner, 0, Qt::AlignHCenter);
  layout->addSpacing(8);
  for (const char* caption : kChecklist) {
    auto* box = new QCheckBox(tr(caption), wallpaper);
    box->setChecked(true);
    // White boxes stand out from the ruled background as a paper checklist.
    box->setStyleSheet(QStringLiteral("QCheckBox { background: white; color: black; padding: 3px 8px; }"));
    layout->addWidget(box, 0, Qt::AlignLeft);
  }
  layout->addStretch(1);
  return wallpaper;
}

QWidget* TCatMainForm::CreateBottomStrip() {
  auto* strip = new QWidget(this);
  strip->setMinimumHeight(kStripHeight);  // grows with a larger font
  auto* layout = new QHBoxLayout(strip);
  layout->setContentsMargins(4, 0, 6, 0);
  auto* label = new QLabel(QStringLiteral("Quillmart %1 \u2014 ").arg(QLatin1String(kVersion)) + tr("keep, build, preview and publish your catalog"), strip);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(7);
  label->setFont(font);
  layout->addWidget(label, 1, Qt::AlignRight | Qt::AlignVCenter);
  return strip;
}

void TCatMainForm::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setSizeGripEnabled(false);
  m_progress = new QProgressBar(bar);
  m_progress->setRange(0, 100);
  m_progress->setFixedSize(150, 10);
  m_progress->setTextVisible(false);
  m_progress->hide();
  new ProgressPlacer(bar, m_progress);
}

void TCatMainForm::BuildLocal() {
  try {
    std::unique_ptr<catalog::RecordSource> source = m_sourceFactory();
    WindowBuildObserver observer(this, m_progress);
    catalog::BuildLocal(*source, observer);
  } catch (const BuildCancelled&) {
    ShowNotice(this, tr("Build Local was cancelled. The pages written so far stay; catalog.htm is the one "
                        "from the last complete build."));
  } catch (const std::exception& e) {
    ShowApplicationError(this, QString::fromUtf8(e.what()),
                         QString::fromStdString(catalog::MissingTableStep(catalog::FrontEnd::Window)));
  }
}

void TCatMainForm::Preview() {
  // Before the first build the browser is left to say that the page is missing.
  OpenInBrowser(QDir::current().absoluteFilePath(QString::fromLatin1(catalog::kCatalogPageName)));
}

void TCatMainForm::Contents() { OpenInBrowser(HelpPagePath()); }

void TCatMainForm::OpenInBrowser(const QString& path) {
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
    ShowApplicationError(this, tr("No web browser could be started to open %1.\n"
                                  "Install one, and xdg-utils, to view the pages.")
                                   .arg(QDir::toNativeSeparators(path)));
}

void TCatMainForm::OpenFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, tr("Open Folder"), QDir::currentPath());
  if (folder.isEmpty()) return;
  const QString before = QDir::currentPath();
  try {
    EnterWorkFolder(folder);
  } catch (const std::exception& e) {
    ShowApplicationError(this, QString::fromUtf8(e.what()));
  }
  UpdateTitle();
  if (QDir::currentPath() != before) emit WorkFolderChanged();
}

void TCatMainForm::UpdateTitle() {
  setWindowTitle(QStringLiteral("Quillmart - ") + QDir::toNativeSeparators(QDir::currentPath()));
}

}  // namespace qm::gui
