#include "app/gui/upload_catalog_ui.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QLocale>
#include <QProgressBar>
#include <QProgressDialog>
#include <memory>
#include <optional>

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

  // From the connection on, a Cancel is at hand: while connecting it gives up
  // at once; during the upload it stops after the file being sent.
  void BeforeConnect() override {
    m_dialog = std::make_unique<QProgressDialog>(QObject::tr("Connecting to the FTP site..."), QObject::tr("Cancel"),
                                                 0, 0, m_owner);
    m_dialog->setObjectName(QStringLiteral("uploadProgress"));
    m_dialog->setWindowTitle(QCoreApplication::applicationName());
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->show();
  }
  void FilesStarted(int fileCount) override {
    m_bar->setRange(0, fileCount);
    m_bar->setValue(0);
    m_bar->show();
    m_bar->raise();
    m_fileCount = fileCount;
    if (m_dialog) m_dialog->setRange(0, std::max(fileCount, 1));
  }
  void FileProgress(const QString& name, qint64 sent, qint64 size) override {
    if (!m_dialog || m_dialog->wasCanceled()) return;
    const QLocale locale;
    m_dialog->setLabelText(QObject::tr("Sending %1: %2 of %3")
                               .arg(name, locale.formattedDataSize(sent), locale.formattedDataSize(size)));
  }
  void FileDone(int filesDone, const catalog::UploadedFile&) override {
    m_bar->setValue(filesDone);
    if (!m_dialog || m_dialog->wasCanceled()) return;
    m_dialog->setValue(filesDone);
    m_dialog->setLabelText(QObject::tr("%1 of %2 files done").arg(filesDone).arg(m_fileCount));
  }
  void FilesFinished(const catalog::UploadResult& result) override {
    m_dialog.reset();
    const QStringList notices = result.NoticeLines();
    const QString more = notices.isEmpty() ? QString() : QStringLiteral("\n") + notices.join(u'\n');
    if (result.AllUploaded()) {
      ShowNotice(m_owner, QString::fromLatin1(catalog::kCatalogUploadedMessage));
      // Stored without a temporary copy: the user should know the site was
      // briefly half-written, and why.
      if (!result.storedInPlace.isEmpty()) ShowNotice(m_owner, result.StoredInPlaceText());
    } else if (!result.connected)
      ShowApplicationError(m_owner, result.FailureText());
    else
      ShowApplicationError(m_owner, QObject::tr("The catalog was not uploaded completely.\n") +
                                        result.FailureText(kFailuresShown) + more);
    m_bar->hide();
  }
  bool Cancelled() const { return m_dialog && m_dialog->wasCanceled(); }

 private:
  QWidget* m_owner;
  QProgressBar* m_bar;
  std::unique_ptr<QProgressDialog> m_dialog;
  int m_fileCount = 0;
};

// "Connect to the Net, then click OK", with the choice to send every file
// again, changed or not (for a site whose files were changed or lost by hand).
// Cancel (also Escape and the close box) ends the command before it connects.
std::optional<bool> AskSendAll(QWidget* owner) {
  QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(),
                  QString::fromLatin1(catalog::kConnectPrompt), QMessageBox::Ok | QMessageBox::Cancel, owner);
  box.setEscapeButton(QMessageBox::Cancel);
  auto* sendAll = new QCheckBox(QObject::tr("Send every file, also those the site already has"), &box);
  sendAll->setObjectName(QStringLiteral("sendAll"));
  box.setCheckBox(sendAll);
  const int answer = box.exec();  // a button, or QDialog's codes when closed otherwise
  if (answer == QMessageBox::Cancel || answer == QDialog::Rejected) return std::nullopt;
  return sendAll->isChecked();
}

}  // namespace

void UploadCatalogFromWindow(QWidget* owner, QProgressBar* bar, const catalog::UploadOptions& options) {
  WindowUploadObserver observer(owner, bar);
  try {
    // Without a readable list there is nothing to connect for: the error box says so.
    catalog::ReadUploadList(options.workDir.filePath(QLatin1String(catalog::kUploadListName)));
    const std::optional<bool> sendAll = AskSendAll(owner);
    if (!sendAll) return;
    catalog::UploadOptions chosen = options;
    chosen.sendAll = options.sendAll || *sendAll;
    chosen.cancelRequested = [&observer] { return observer.Cancelled(); };
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
