// quillmart: the windows program. Works on the files of its catalog folder
// (work_folder.h): `quillmart FOLDER`, else the folder used last.
#include <QApplication>
#include <QFileInfo>

#include <cstdio>

#include "app/core/locale_dates.h"
#include "app/gui/artwork.h"
#include "app/gui/error_box.h"
#include "app/gui/main_window.h"
#include "app/gui/product_form.h"
#include "app/gui/upload_catalog_ui.h"
#include "app/gui/version.h"
#include "app/gui/work_folder.h"
#include "dbf/disk_file.h"

namespace {

// --help and --version are answered before any window system is needed.
int AnswerWithoutWindows(const qm::gui::StartOptions& options) {
  using Action = qm::gui::StartOptions::Action;
  if (options.action == Action::ShowVersion) std::printf("quillmart %s\n", qm::gui::kVersion);
  if (options.action == Action::ShowHelp) std::fputs(qm::gui::StartUsage().toLocal8Bit().constData(), stdout);
  if (options.action != Action::Fail) return 0;
  std::fprintf(stderr, "quillmart: %s\n%s", options.error.toLocal8Bit().constData(),
               qm::gui::StartUsage().toLocal8Bit().constData());
  return 2;
}

QStringList Arguments(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  using Action = qm::gui::StartOptions::Action;
  // Qt's own options (-platform, -style) are not known yet; only these two are looked for.
  for (const QString& arg : Arguments(argc, argv)) {
    const qm::gui::StartOptions early = qm::gui::ParseStartArguments({arg});
    if (early.action == Action::ShowHelp || early.action == Action::ShowVersion) return AnswerWithoutWindows(early);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmart"));
  QApplication::setApplicationVersion(QString::fromLatin1(qm::gui::kVersion));
  QApplication::setWindowIcon(qm::gui::AppIcon());
  const qm::gui::StartOptions options = qm::gui::ParseStartArguments(QApplication::arguments().mid(1));
  if (options.action != Action::Run) return AnswerWithoutWindows(options);
  if (!options.folder.isEmpty() && !QFileInfo(options.folder).isDir()) {
    std::fprintf(stderr, "quillmart: no such folder: %s\n", options.folder.toLocal8Bit().constData());
    return 2;
  }
  // A folder that cannot be entered or remembered is reported in the window.
  QString startError;
  try {
    const QString folder = options.folder.isEmpty() ? qm::gui::RememberedWorkFolder() : options.folder;
    if (!folder.isEmpty()) qm::gui::EnterWorkFolder(folder);
  } catch (const std::exception& e) {
    startError = QString::fromUtf8(e.what());
  }
  qm::catalog::ApplyLocaleDateFormat();
  // While the engine retries a refused lock it keeps the windows painted and responsive.
  qm::dbf::SetMessagePump([] { QCoreApplication::processEvents(); });
  qm::gui::TCatMainForm mainForm;
  qm::gui::InstallProductWindow(mainForm);
  qm::gui::InstallUploadCatalog(mainForm);
  mainForm.show();
  if (!startError.isEmpty()) qm::gui::ShowApplicationError(&mainForm, startError);
  return app.exec();
}
