// Upload Catalog from the main window's menu, offscreen, against pyftpdlib:
// the question before connecting, the progress bar, and the closing notice or
// the error box naming what failed.
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/core/settings_store.h"
#include "tests/app/box_answerer.h"
#include "tests/app/window_lookup.h"
#include "app/gui/main_window.h"
#include "app/gui/upload_catalog_ui.h"
#include "ftp_servers_util.h"

using qm::test::BoxAnswerer;

namespace {

// The label each progress box opens with, read as it is shown: a poll would
// miss a connection made within its interval.
class OpeningLabels : public QObject {
 public:
  OpeningLabels() { qApp->installEventFilter(this); }
  QStringList labels;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (auto* progress = qobject_cast<QProgressDialog*>(watched); progress && event->type() == QEvent::Show)
      labels << progress->labelText();
    return false;
  }
};

}  // namespace

class UploadWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_server = std::make_unique<qm::net::test::PyFtpServer>();
    QVERIFY(m_server->Started());
    m_scratch = std::make_unique<qm::test::WindowScratch>();
    qm::catalog::SettingsStore store;
    qm::catalog::SiteSettings{"127.0.0.1", "user", "onlinecatalog/", "secret"}.Write(store);
    QDir(QString::fromStdString(m_server->Root())).mkdir("onlinecatalog");
    m_options.port = QString::number(m_server->Port());
  }

  void UploadStepsTheBarAndEndsWithTheNotice() {
    Write("catalog.htm", "<html>catalog</html>\r\n");
    Write("A100.htm", "a");
    Write("B200.htm", "b");
    Write("upload.txt", "catalog.htm\r\nA100.htm\r\nB200.htm\r\n");
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    form.show();
    QVERIFY(form.UploadCatalogAction()->isEnabled());
    BoxAnswerer answers;
    form.UploadCatalogAction()->trigger();
    QCOMPARE(answers.texts, QStringList({"Connect to the Net, then click OK", " Catalog has been uploaded "}));
    QCOMPARE(form.ProgressBar()->maximum(), 3);
    QCOMPARE(form.ProgressBar()->value(), 3);
    QVERIFY(!form.ProgressBar()->isVisible());
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<html>catalog</html>\r\n"));
    QCOMPARE(Remote("onlinecatalog/B200.htm"), QByteArray("b"));
  }

  void FailedFileIsNamedInsteadOfTheNotice() {
    Write("catalog.htm", "c");
    Write("upload.txt", "catalog.htm\r\nmissing.htm\r\n");
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    form.show();
    BoxAnswerer answers;
    form.UploadCatalogAction()->trigger();
    QVERIFY2(answers.texts.size() == 2, qPrintable(answers.texts.join(" | ")));
    // The listing would link to the missing page: it is held back, and said so.
    QVERIFY2(answers.texts[1].startsWith(QStringLiteral("The catalog was not uploaded completely.\n"
                                                        "missing.htm: Could not store onlinecatalog/missing.htm: "
                                                        "426 Unable to open local file missing.htm\n"
                                                        "catalog.htm: held back: a page before it did not go up\n"
                                                        "catalog.htm was held back, so the listing online is still "
                                                        "the old one")),
             qPrintable(answers.texts[1]));
    QCOMPARE(answers.icons[1], QMessageBox::Critical);
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<missing>"));
    QVERIFY(!form.ProgressBar()->isVisible());
  }

  void RefusedLogInIsOneMessageAndSendsNothing() {
    Write("catalog.htm", "c");
    Write("upload.txt", "catalog.htm\r\n");
    qm::catalog::SettingsStore store;
    qm::catalog::SiteSettings{"127.0.0.1", "user", "onlinecatalog/", "wrong"}.Write(store);
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    BoxAnswerer answers;
    form.UploadCatalogAction()->trigger();
    QCOMPARE(answers.texts, QStringList({"Connect to the Net, then click OK",
                                         "Could not log in to 127.0.0.1 as user: 530 Authentication failed."}));
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<missing>"));
  }

  // Only changed files go up; the prompt's "send every file" sends an
  // unchanged one again (here restoring a copy spoiled on the server).
  void SendEveryFileSendsAnUnchangedFileAgain() {
    Write("catalog.htm", "<html>v1</html>");
    Write("upload.txt", "catalog.htm\r\n");
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    {
      BoxAnswerer answers;
      form.UploadCatalogAction()->trigger();
      QCOMPARE(answers.texts.last(), QStringLiteral(" Catalog has been uploaded "));
    }
    const QString remote = QString::fromStdString(m_server->Root()) + "/onlinecatalog/catalog.htm";
    const auto spoil = [&](const QByteArray& bytes) {
      QFile spoiled(remote);
      QVERIFY(spoiled.open(QIODevice::WriteOnly));
      spoiled.write(bytes);
    };
    // Of another size on the server: changed by someone else, sent again unasked.
    spoil("spoiled");
    {
      BoxAnswerer answers;
      form.UploadCatalogAction()->trigger();
      QCOMPARE(form.ProgressBar()->maximum(), 1);
    }
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<html>v1</html>"));
    spoil("<html>v2</html>");  // the same size: only the manifest speaks, and it says unchanged
    {
      BoxAnswerer answers;
      form.UploadCatalogAction()->trigger();
      QCOMPARE(form.ProgressBar()->maximum(), 0);  // nothing to send
    }
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<html>v2</html>"));
    BoxAnswerer answers;
    answers.tickCheckBox = true;
    form.UploadCatalogAction()->trigger();
    QCOMPARE(answers.texts, QStringList({"Connect to the Net, then click OK", " Catalog has been uploaded "}));
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<html>v1</html>"));
  }

  // Cancel, Escape or the close box on the question: nothing is sent.
  void CancelOnTheQuestionSendsNothing() {
    Write("catalog.htm", "c");
    Write("upload.txt", "catalog.htm\r\n");
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    BoxAnswerer answers(QMessageBox::Cancel);
    form.UploadCatalogAction()->trigger();
    QCOMPARE(answers.texts, QStringList({"Connect to the Net, then click OK"}));
    QCOMPARE(Remote("onlinecatalog/catalog.htm"), QByteArray("<missing>"));
  }

  // Cancel while a large page goes up slowly: that page is finished (its
  // bytes were shown going), nothing after it goes, and the listing is held
  // back, so the site stays whole.
  void CancelDuringTheUploadStopsAfterTheCurrentFile() {
    qm::net::test::PyFtpServer slow({"--throttle", "400000"});
    QVERIFY(slow.Started());
    QDir(QString::fromStdString(slow.Root())).mkdir("onlinecatalog");
    m_options.port = QString::number(slow.Port());
    Write("catalog.htm", "c");
    Write("A100.htm", QByteArray(1000000, 'a'));
    Write("B200.htm", "b");
    Write("upload.txt", "catalog.htm\r\nA100.htm\r\nB200.htm\r\n");
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    form.show();
    OpeningLabels opened;
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, [&] {
      auto* progress = form.findChild<QProgressDialog*>("uploadProgress");
      if (progress && !progress->wasCanceled() && progress->labelText().startsWith("Sending A100.htm")) progress->cancel();
    });
    canceller.start(10);
    BoxAnswerer answers;
    form.UploadCatalogAction()->trigger();
    QVERIFY2(answers.texts.last().contains("The upload was cancelled"), qPrintable(answers.texts.last()));
    QCOMPARE(opened.labels, QStringList({"Connecting to the FTP site..."}));
    const QString root = QString::fromStdString(slow.Root()) + "/onlinecatalog/";
    QCOMPARE(QFileInfo(root + "A100.htm").size(), 1000000);
    QVERIFY(!QFile::exists(root + "B200.htm"));
    QVERIFY(!QFile::exists(root + "catalog.htm"));
    QVERIFY(!form.findChild<QProgressDialog*>("uploadProgress"));
  }

  void MissingListShowsTheErrorAndSendsNothing() {
    qm::gui::TCatMainForm form;
    qm::gui::InstallUploadCatalog(form, m_options);
    BoxAnswerer answers;
    form.UploadCatalogAction()->trigger();
    QCOMPARE(answers.texts, QStringList({"File not found: upload.txt"}));
    QVERIFY2(answers.details.value(0).startsWith("Nothing has been built for upload here yet. Run Build > Build Local first"),
             qPrintable(answers.details.value(0)));
  }

 private:
  void Write(const QString& name, const QByteArray& bytes) {
    QFile file(m_scratch->Work(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  QByteArray Remote(const QString& name) {
    QFile file(QString::fromStdString(m_server->Root()) + "/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }

  std::unique_ptr<qm::net::test::PyFtpServer> m_server;
  std::unique_ptr<qm::test::WindowScratch> m_scratch;
  qm::catalog::UploadOptions m_options;
};

QTEST_MAIN(UploadWindowTest)
#include "upload_window_qtest.moc"
