#pragma once
// The main window: the workflow as a menu, a checklist over the wallpaper,
// a status bar with the progress bar of long jobs, and the Build Local command.
//
// Menu: &File > &Open Folder..., E&xit (Ctrl+Q); &Product > &Catalog; &Setup;
// &Build > &Build Local, &Preview, &Upload Catalog; &Help > &Contents (F1),
// &About. The window creates the setup dialog (with its colour picker and
// help window) and the about box; Upload Catalog is connected by
// InstallUploadCatalog (UploadCatalogAction() and ProgressBar()), Catalog by
// InstallCatalogWindow.
//
// The title names the catalog folder the program works in (work_folder.h).

#include <QMainWindow>

#include <functional>
#include <memory>
#include <vector>

#include "app/core/record_source.h"

class QAction;
class QCheckBox;
class QProgressBar;

namespace qm::gui {

class TAboutBox;
class TSetupForm;

class TCatMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // Gives the record source Build Local walks: by default the working
  // directory's catalog.dbf opened afresh; the product window supplies its
  // dataset instead while it has the table open.
  using RecordSourceFactory = std::function<std::unique_ptr<catalog::RecordSource>()>;

  explicit TCatMainForm(QWidget* parent = nullptr);
  ~TCatMainForm() override;

  void SetRecordSourceFactory(RecordSourceFactory factory);
  // Asked before the program ends (Exit, or the main window's close box):
  // false keeps it running, as when the user cancels saving an edit.
  void AddExitGuard(std::function<bool()> mayExit);

  QAction* CatalogAction() const { return m_catalogAction; }
  // Product > Catalog shows `window` (not modal; an open one comes to the
  // front); until then the item is disabled.
  void InstallCatalogWindow(QWidget* window);
  QAction* SetupAction() const { return m_setupAction; }
  QAction* UploadCatalogAction() const { return m_uploadAction; }
  QAction* AboutAction() const { return m_aboutAction; }
  TSetupForm* SetupForm() const { return m_setup; }
  TAboutBox* AboutBox() const { return m_about; }
  // 150 x 10 over the left end of the status bar; hidden between long jobs.
  QProgressBar* ProgressBar() const { return m_progress; }

 public slots:
  void BuildLocal();
  void Preview();
  void Contents();
  void OpenFolder();
  // Shows the working folder in the title.
  void UpdateTitle();

 protected:
  void closeEvent(QCloseEvent* event) override;

 signals:
  // The working folder changed: whoever holds a table of the old one closes it
  // (table objects keep the paths they were opened with).
  void WorkFolderChanged();

 private:
  // Opens a page in the browser; the error box says so when none started.
  void OpenInBrowser(const QString& path);
  void CreateMenus();
  QWidget* CreateChecklist();
  QWidget* CreateBottomStrip();
  void CreateStatusBar();

  RecordSourceFactory m_sourceFactory;
  std::vector<std::function<bool()>> m_exitGuards;
  QAction* m_catalogAction = nullptr;
  QAction* m_setupAction = nullptr;
  QAction* m_uploadAction = nullptr;
  QAction* m_aboutAction = nullptr;
  QProgressBar* m_progress = nullptr;
  TSetupForm* m_setup = nullptr;
  TAboutBox* m_about = nullptr;
};

// The help page Contents opens: help.htm of the working directory when there
// is one, else the copy installed with the program.
QString HelpPagePath();

}  // namespace qm::gui
