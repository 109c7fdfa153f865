#pragma once
// The main window: the workflow as a menu, a checklist over the wallpaper,
// a status bar with the progress bar of long jobs, and the Build Local command.
//
// Menu: &File > E&xit; &Product > &Catalog; &Setup; &Build > &Build Local,
// &Preview, &Upload Catalog; &Help > &Contents, &About. Items whose windows do
// not exist yet stay disabled; the window that provides one enables its item
// and connects it (Upload Catalog: UploadCatalogAction() and ProgressBar()).

#include <QMainWindow>

#include <functional>
#include <memory>

#include "app/core/record_source.h"

class QAction;
class QCheckBox;
class QProgressBar;

namespace qm::gui {

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

  QAction* CatalogAction() const { return m_catalogAction; }
  QAction* SetupAction() const { return m_setupAction; }
  QAction* UploadCatalogAction() const { return m_uploadAction; }
  QAction* AboutAction() const { return m_aboutAction; }
  // 150 x 10 over the left end of the status bar; hidden between long jobs.
  QProgressBar* ProgressBar() const { return m_progress; }

 public slots:
  void BuildLocal();
  void Preview();
  void Contents();

 private:
  void CreateMenus();
  QWidget* CreateChecklist();
  QWidget* CreateBottomStrip();
  void CreateStatusBar();

  RecordSourceFactory m_sourceFactory;
  QAction* m_catalogAction = nullptr;
  QAction* m_setupAction = nullptr;
  QAction* m_uploadAction = nullptr;
  QAction* m_aboutAction = nullptr;
  QProgressBar* m_progress = nullptr;
};

// The help page Contents opens: help.htm of the working directory when there
// is one, else the copy installed with the program.
QString HelpPagePath();

}  // namespace qm::gui
