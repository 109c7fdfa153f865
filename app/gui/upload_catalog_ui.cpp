#include "app/gui/upload_catalog_ui.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressBar>

#include "app/core/next_steps.h"
#include "app/core/stacked_pages.h"
#include "app/gui/error_box.h"
#include "app/gui/main_window.h"

namespace qm::gui {

namespace {

constexpr int kFailuresShown = 20;  // a message box, not a log

class WindowUploadObserver : public catalog::UploadObserver {
 public:
  WindowUploadObserver(QWidget* owner, QProgressBar* bar) : m_owner(owner), m_bar(bar) {}
  void FilesStarted(int fileCount) override {
    m_bar->setRange(0, fileCount);
    m_bar->setValue(0);
    m_bar->show();
    m_bar->raise();
  }
  void FileDone(int filesDone, const catalog::UploadedFile&) override { m_bar->setValue(filesDone); }
  void FilesFinished(const catalog::UploadResult& result) override {
    const QString retried = result.RetriedText().isEmpty() ? QString() : QStringLiteral("\n") + result.RetriedText();
    if (result.AllUploaded())
      ShowNotice(m_owner, QString::fromLatin1(catalog::kCatalogUploadedMessage));
    else if (!result.connected)
      ShowApplicationError(m_owner, result.FailureText());
    else
      ShowApplicationError(m_owner, QObject::tr("The catalog was not uploaded completely.\n") +
                                        result.FailureText(kFailuresShown) + retried);
    m_bar->hide();
  }

 private:
  QWidget* m_owner;
  QProgressBar* m_bar;
};

// "Connect to the Net, then click OK", with the choice to send every file
// again, changed or not (for a site whose files were changed or lost by hand).
bool AskSendAll(QWidget* owner) {
  QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(),
                  QString::fromLatin1(catalog::kConnectPrompt), QMessageBox::Ok, owner);
  auto* sendAll = new QCheckBox(QObject::tr("Send every file, also those the site already has"), &box);
  sendAll->setObjectName(QStringLiteral("sendAll"));
  box.setCheckBox(sendAll);
  box.exec();
  return sendAll->isChecked();
}

}  // namespace

void UploadCatalogFromWindow(QWidget* owner, QProgressBar* bar, const catalog::UploadOptions& options) {
  WindowUploadObserver observer(owner, bar);
  try {
    // Without a readable list there is nothing to connect for: the error box says so.
    catalog::ReadUploadList(options.workDir.filePath(QLatin1String(catalog::kUploadListName)));
    catalog::UploadOptions chosen = options;
    chosen.sendAll = options.sendAll || AskSendAll(owner);
    catalog::UploadCatalog(observer, chosen);
  } catch (const std::exception& e) {
    bar->hide();
    const std::string step =
        catalog::MissingUploadListStep(catalog::FrontEnd::Window, options.workDir.absolutePath().toStdString());
    ShowApplicationError(owner, QString::fromUtf8(e.what()), QString::fromStdString(step));
  }
}

void InstallUploadCatalog(TCatMainForm& window, const catalog::UploadOptions& options) {
  QAction* action = window.UploadCatalogAction();
  action->setEnabled(true);
  QObject::connect(action, &QAction::triggered, &window, [&window, options] {
    UploadCatalogFromWindow(&window, window.ProgressBar(), options);
  });
}

}  // namespace qm::gui
