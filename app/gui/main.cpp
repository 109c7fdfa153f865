// quillmart: the windows program. Works on the files of the current directory.
#include <QApplication>

#include "app/core/locale_dates.h"
#include "app/gui/artwork.h"
#include "app/gui/main_window.h"
#include "app/gui/upload_catalog_ui.h"
#include "dbf/disk_file.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmart"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quillmart"));
  QApplication::setWindowIcon(qm::gui::AppIcon());
  qm::catalog::ApplyLocaleDateFormat();
  // While the engine retries a refused lock it keeps the windows painted and responsive.
  qm::dbf::SetMessagePump([] { QCoreApplication::processEvents(); });
  qm::gui::TCatMainForm mainForm;
  qm::gui::InstallUploadCatalog(mainForm);
  mainForm.show();
  return app.exec();
}
