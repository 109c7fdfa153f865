// Upload Catalog end to end against pyftpdlib: through the command's library
// entry and through quillmart-cli upload.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>
#include <sstream>

#include "app/core/settings_store.h"
#include "app/core/text_file_writer.h"
#include "app/core/upload_command.h"
#include "ftp_servers_util.h"

namespace qm::catalog {
namespace {

std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Recorder : UploadObserver {
  int started = -1;
  std::vector<int> progress;
  std::vector<QString> uploaded;
  bool finishedCalled = false;
  void FilesStarted(int count) override { started = count; }
  void FileDone(int done, const UploadedFile& file) override {
    progress.push_back(done);
    if (file.uploaded) uploaded.push_back(file.remoteName);
  }
  void FilesFinished(const UploadResult&) override { finishedCalled = true; }
};

class UploadCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_server.Started());
    site = {"127.0.0.1", "user", "onlinecatalog/", "secret"};
    options.workDir = QDir(m_work.path());
    options.port = QString::number(m_server.Port());
    options.timeoutSeconds = 5;
    QDir(Remote("")).mkdir("onlinecatalog");
  }
  void Write(const QString& name, const std::string& bytes) {
    std::ofstream(m_work.filePath(name).toStdString(), std::ios::binary) << bytes;
  }
  void WriteCatalog() {
    Write("catalog.htm", "<html>catalog</html>\r\n");
    Write("A100.htm", "<html>a</html>\r\n");
    Write("B200.htm", "<html>b</html>\r\n");
    Write("upload.txt", "catalog.htm\r\nA100.htm\r\n\r\nB200.htm\r\n");
  }
  QString Remote(const QString& name) { return QString::fromStdString(m_server.Root()) + "/" + name; }
  // quillmart-cli in the working directory, the site in a private settings store.
  void PrepareCommandLine(QProcess& cli) {
    {
      SettingsStore store(m_config.filePath("Quillmart.ini"));
      site.Write(store);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", m_config.path());
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(m_work.path());
  }

  net::test::PyFtpServer m_server;
  QTemporaryDir m_config;
  QTemporaryDir m_work;
  SiteSettings site;
  UploadOptions options;
  Recorder recorder;
};

// catalog.htm goes last: the listing never links to a page not there yet.
TEST_F(UploadCommand, PagesGoUnderTheRemoteDirectoryInListOrderAndTheCatalogLast) {
  WriteCatalog();
  const UploadResult result = UploadCatalog(site, recorder, options);
  EXPECT_TRUE(result.AllUploaded()) << result.FailureText().toStdString();
  EXPECT_EQ(result.FailureText(), "");
  EXPECT_EQ(recorder.started, 3);  // the empty line names no file
  EXPECT_EQ(recorder.progress, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(recorder.uploaded, (std::vector<QString>{"onlinecatalog/A100.htm", "onlinecatalog/B200.htm",
                                                     "onlinecatalog/catalog.htm"}));
  EXPECT_TRUE(recorder.finishedCalled);
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/catalog.htm")), "<html>catalog</html>\r\n");  // CR LF kept
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/B200.htm")), "<html>b</html>\r\n");
}

TEST_F(UploadCommand, DirectoryWithoutFinalSlashIsGluedToTheName) {
  WriteCatalog();
  site.remoteDirectory = "onlinecatalog";
  EXPECT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  EXPECT_EQ(ReadAll(Remote("onlinecatalogcatalog.htm")), "<html>catalog</html>\r\n");
  site.remoteDirectory.clear();  // an empty directory: the login directory
  EXPECT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  EXPECT_EQ(ReadAll(Remote("A100.htm")), "<html>a</html>\r\n");
}

TEST_F(UploadCommand, FailedFilesAreNamedWithTheServerReplyAndMissingDirectoriesAreMade) {
  Write("catalog.htm", "c");
  Write("upload.txt", "missing.htm\r\ncatalog.htm\r\n");
  site.remoteDirectory = "onlinecatalog/new/deeper/";
  const UploadResult result = UploadCatalog(site, recorder, options);
  EXPECT_FALSE(result.AllUploaded());
  ASSERT_EQ(result.files.size(), 2u);
  EXPECT_FALSE(result.files[0].uploaded);
  EXPECT_TRUE(result.files[0].reply.startsWith("Could not store onlinecatalog/new/deeper/missing.htm: "
                                               "426 Unable to open local file "))
      << result.files[0].reply.toStdString();
  // A listing over a missing page would link to nothing: it is held back.
  EXPECT_FALSE(result.files[1].uploaded);
  EXPECT_TRUE(result.listingHeldBack);
  EXPECT_EQ(result.files[1].reply, "held back: a page before it did not go up");
  EXPECT_TRUE(result.NoticeLines().join('\n').contains("catalog.htm was held back")) << result.NoticeLines().join('\n').toStdString();
  // No temporary file is left behind by the failed file, and the directories were made.
  EXPECT_TRUE(QDir(Remote("onlinecatalog/new/deeper")).exists());
  EXPECT_EQ(QDir(Remote("onlinecatalog/new/deeper")).entryList(QDir::Files), QStringList{});
  const QString text = result.FailureText();
  EXPECT_TRUE(text.startsWith("missing.htm: Could not store ")) << text.toStdString();
  Write("upload.txt", "missing.htm\r\ngone.htm\r\ncatalog.htm\r\n");
  EXPECT_TRUE(UploadCatalog(site, recorder, options).FailureText(1).endsWith("\n... and 2 more"));
  Write("upload.txt", "catalog.htm\r\n");
  EXPECT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/new/deeper/catalog.htm")), "c");
}

// Names that would send a file from outside the working folder, and a
// remote directory that would smuggle a command: refused before connecting.
TEST_F(UploadCommand, UnsafeNamesAreRefusedBeforeAnythingIsSent) {
  WriteCatalog();
  QTemporaryDir outside;
  std::ofstream(outside.filePath("secret.txt").toStdString()) << "private";
  QFile::link(outside.filePath("secret.txt"), m_work.filePath("link.htm"));
  for (const char* name : {"../x.htm", "nested/catalog.htm", "link.htm", ".."}) {
    Write("upload.txt", std::string("catalog.htm\r\n") + name + "\r\n");
    EXPECT_THROW(UploadCatalog(site, recorder, options), UploadListError) << name;
  }
  EXPECT_EQ(recorder.started, -1);
  WriteCatalog();
  site.remoteDirectory = "onlinecatalog/\r\nDELE x";  // a multi-line setting
  const UploadResult result = UploadCatalog(site, recorder, options);
  EXPECT_FALSE(result.AllUploaded());
  EXPECT_TRUE(recorder.uploaded.empty());
  EXPECT_FALSE(QFile::exists(Remote("onlinecatalog/catalog.htm")));
}

TEST_F(UploadCommand, RefusedLoginTriesNoFileAndSaysWhyOnce) {
  WriteCatalog();
  site.remotePassword = "wrong";
  const UploadResult result = UploadCatalog(site, recorder, options);
  EXPECT_FALSE(result.connected);
  EXPECT_EQ(result.connectReply.toStdString(), "Could not log in to 127.0.0.1 as user: 530 Authentication failed.");
  EXPECT_EQ(recorder.started, -1);
  EXPECT_TRUE(recorder.uploaded.empty());
  EXPECT_EQ(result.FailureText(), result.connectReply);
  site.remotePassword.clear();  // the server asks for one: said at once, no 15-second stall
  const UploadResult empty = UploadCatalog(site, recorder, options);
  EXPECT_TRUE(empty.connectReply.endsWith("(no password set)")) << empty.connectReply.toStdString();
  options.port = "1";
  const UploadResult refused = UploadCatalog(site, recorder, options);
  EXPECT_EQ(refused.connectReply.toStdString(), "Could not connect to 127.0.0.1 port 1: connection refused");
  // No password went anywhere, so nothing is said about one going in clear;
  // the refused log-in above did send it unencrypted, and says so.
  EXPECT_TRUE(refused.warnings.isEmpty()) << refused.warnings.join('\n').toStdString();
  EXPECT_EQ(result.warnings, QStringList{"The password went to 127.0.0.1 in clear: the server offers no encryption (TLS)."});
}

// Two working folders publish to one site: what the other one put there is
// noticed by the server's listing and replaced, whatever this folder's
// manifest says. Names planted in the manifest are never acted on, and its
// work file never follows a planted link.
TEST_F(UploadCommand, OtherFoldersChangesAndPlantedManifestsAreNoticedNotTrusted) {
  WriteCatalog();
  ASSERT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  {
    QFile other(Remote("onlinecatalog/catalog.htm"));  // the other folder's listing
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("<html>the other folder's products</html>\r\n");
  }
  QFile::remove(Remote("onlinecatalog/B200.htm"));
  const QString manifestPath = QDir(m_work.path()).entryList({"upload-manifest-*.txt"}).value(0);
  ASSERT_FALSE(manifestPath.isEmpty());
  QFile manifest(m_work.filePath(manifestPath));
  ASSERT_TRUE(manifest.open(QIODevice::Append));
  manifest.write("../../index.html\t5\tabc\nsub/x.htm\t5\tabc\n");
  manifest.close();
  std::ofstream(Remote("index.html").toStdString()) << "victim";
  QTemporaryDir elsewhere;
  const QString victim = elsewhere.filePath("victim.txt");
  std::ofstream(victim.toStdString()) << "untouched";
  QFile::link(victim, m_work.filePath(manifestPath + ".tmp"));  // the work file's old, fixed name
  Recorder again;
  const UploadResult result = UploadCatalog(site, again, options);
  EXPECT_TRUE(result.AllUploaded()) << result.FailureText().toStdString();
  EXPECT_EQ(again.uploaded, (std::vector<QString>{"onlinecatalog/B200.htm", "onlinecatalog/catalog.htm"}));
  EXPECT_EQ(result.unchangedCount, 1);
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/catalog.htm")), "<html>catalog</html>\r\n");
  EXPECT_EQ(ReadAll(Remote("index.html")), "victim");
  EXPECT_TRUE(result.warnings.join('\n').contains("2 names in " + manifestPath + " were not files of the working folder"))
      << result.warnings.join('\n').toStdString();
  EXPECT_EQ(ReadAll(victim), "untouched");
  const std::string saved = ReadAll(m_work.filePath(manifestPath));
  EXPECT_EQ(saved.find("index.html"), std::string::npos);
  EXPECT_NE(saved.find("B200.htm"), std::string::npos);
  EXPECT_TRUE(QDir(m_work.path()).entryList({"*.qm*.tmp"}, QDir::Files | QDir::Hidden).isEmpty());
}

// The manifest's quick check: a page whose size and modification time are
// those of its line is not read again (so a same-size edit with its time put
// back goes unseen, as intended); a page whose time moved is read and sent
// only when its content changed; a manifest of an older Quillmart, without
// times, forces no resend and gets the times.
TEST_F(UploadCommand, PagesOfUnchangedSizeAndTimeAreNotReadAgainAndOldManifestsStillCount) {
  WriteCatalog();
  const auto setTime = [&](const QString& name, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, m_work.filePath(name).toLocal8Bit().constData(), times, 0), 0);
  };
  const time_t settled = time(nullptr) - 3600;
  for (const char* name : {"catalog.htm", "A100.htm", "B200.htm"}) setTime(name, settled);
  ASSERT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  const QString manifestPath = m_work.filePath(QDir(m_work.path()).entryList({"upload-manifest-*.txt"}).value(0));
  const auto lines = [&] { return QString::fromStdString(ReadAll(manifestPath)).split("\r\n", Qt::SkipEmptyParts); };
  for (const QString& line : lines().mid(1)) EXPECT_EQ(line.count('\t'), 3) << line.toStdString();
  const auto planned = [&] {
    options.dryRun = true;
    const UploadResult dry = UploadCatalog(site, recorder, options);
    options.dryRun = false;
    std::vector<QString> names;
    for (const UploadedFile& file : dry.files) names.push_back(file.localName);
    return names;
  };

  Write("A100.htm", "<html>A</html>\r\n");  // same size
  setTime("A100.htm", settled);
  EXPECT_EQ(planned(), std::vector<QString>{});
  setTime("A100.htm", settled + 60);
  Write("B200.htm", "<html>b</html>\r\n");  // same bytes, new time
  setTime("B200.htm", settled + 60);
  EXPECT_EQ(planned(), std::vector<QString>{"A100.htm"});
  ASSERT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/A100.htm")), "<html>A</html>\r\n");

  QStringList old = lines();
  for (int i = 1; i < old.size(); ++i) old[i] = old[i].section('\t', 0, 2);
  {
    QFile manifest(manifestPath);
    ASSERT_TRUE(manifest.open(QIODevice::WriteOnly | QIODevice::Truncate));
    manifest.write((old.join("\r\n") + "\r\n").toUtf8());
  }
  Recorder again;
  const UploadResult result = UploadCatalog(site, again, options);
  EXPECT_TRUE(result.AllUploaded()) << result.FailureText().toStdString();
  EXPECT_EQ(again.uploaded, std::vector<QString>{});
  EXPECT_EQ(result.unchangedCount, 3);
  for (const QString& line : lines().mid(1)) EXPECT_EQ(line.count('\t'), 3) << line.toStdString();
}

// A large page tells how far it got while it goes, not only when it is done.
TEST_F(UploadCommand, LargePageReportsItsBytesWhileItGoes) {
  struct Bytes : Recorder {
    std::vector<qint64> sent;
    qint64 size = 0;
    void FileProgress(const QString&, qint64 done, qint64 total) override {
      sent.push_back(done);
      size = total;
    }
  } bytes;
  Write("catalog.htm", std::string(5 << 20, 'x'));
  Write("upload.txt", "catalog.htm\r\n");
  ASSERT_TRUE(UploadCatalog(site, bytes, options).AllUploaded());
  EXPECT_EQ(bytes.size, 5 << 20);
  ASSERT_GE(bytes.sent.size(), 3u);
  EXPECT_TRUE(std::is_sorted(bytes.sent.begin(), bytes.sent.end()));
  EXPECT_GT(bytes.sent.back(), bytes.size / 2);
  // The command line prints a line about every tenth of it.
  QProcess cli;
  PrepareCommandLine(cli);
  cli.start(QM_CLI, {"upload", "--all", "--port", options.port});
  ASSERT_TRUE(cli.waitForFinished(30000));
  const QString out = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_EQ(cli.exitCode(), 0) << out.toStdString();
  EXPECT_TRUE(out.startsWith("sending catalog.htm: 0 of 5242880 bytes\nsending catalog.htm: 524288 of 5242880 bytes\n")) << out.toStdString();
  EXPECT_GE(out.count("sending catalog.htm: "), 5) << out.toStdString();
}

// 1,000 pages built and sent; then one price changes, one product goes and
// every page carries a new build date: exactly the changed page, catalog.htm
// and one deletion go over the wire, as the dry run said beforehand.
TEST(UploadIncremental, OnlyTheChangedPageTheCatalogAndOneDeletionGoOverTheWire) {
  QTemporaryDir work, logDir;
  const QString log = logDir.filePath("ftp.log");
  net::test::PyFtpServer server({"--log", log});
  ASSERT_TRUE(server.Started());
  const auto build = [&](const QString& date, int changed, int removed) {
    std::string list = "catalog.htm\r\n", catalog;
    for (int i = 0; i < 1000; ++i) {
      if (i == removed) continue;
      const std::string name = "P" + std::to_string(i) + ".htm";
      std::ofstream(work.filePath(QString::fromStdString(name)).toStdString(), std::ios::binary)
          << "<!-- Built with Quillmart from Lumenfold\r\nfor Shop\r\nLast Update ... " << date.toStdString()
          << "  -->\r\n<P><B>Price: </B>" << (i == changed ? 12 : 10) << "\r\n";
      list += name + "\r\n";
      catalog += name;
    }
    std::ofstream(work.filePath("catalog.htm").toStdString(), std::ios::binary) << catalog;
    std::ofstream(work.filePath("upload.txt").toStdString(), std::ios::binary) << list;
  };
  SiteSettings site{"127.0.0.1", "user", "shop/", "secret"};
  UploadOptions options;
  options.workDir = QDir(work.path());
  options.port = QString::number(server.Port());
  Recorder recorder;
  build("8/12/26", -1, -1);
  ASSERT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  QFile::remove(log);

  build("9/12/26", 17, 500);
  options.dryRun = true;
  const UploadResult dry = UploadCatalog(site, recorder, options);
  std::vector<QString> planned;
  for (const UploadedFile& file : dry.files) planned.push_back((file.deletion ? "DELE " : "STOR ") + file.remoteName);
  EXPECT_EQ(planned, (std::vector<QString>{"STOR shop/P17.htm", "STOR shop/catalog.htm", "DELE shop/P500.htm"}));
  EXPECT_EQ(dry.unchangedCount, 998);
  options.dryRun = false;
  const UploadResult result = UploadCatalog(site, recorder, options);
  EXPECT_TRUE(result.AllUploaded()) << result.FailureText().toStdString();
  QFile logFile(log);
  ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
  QStringList changes;
  for (const QByteArray& line : logFile.readAll().split('\n'))
    if (line.startsWith("STOR") || line.startsWith("DELE") || line.startsWith("RNTO")) changes << line;
  EXPECT_EQ(changes, (QStringList{"STOR shop/P17.htm.qmpart", "RNTO shop/P17.htm", "STOR shop/catalog.htm.qmpart",
                                  "RNTO shop/catalog.htm", "DELE shop/P500.htm"}));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(server.Root()) + "/shop/P500.htm"));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(server.Root()) + "/shop/P501.htm"));
}

TEST_F(UploadCommand, MissingListSendsNothingAndEmptyListSucceeds) {
  try {
    UploadCatalog(site, recorder, options);
    FAIL() << "no upload.txt accepted";
  } catch (const FileIoError& e) {
    EXPECT_STREQ(e.what(), "File not found: upload.txt");
  }
  EXPECT_EQ(recorder.started, -1);
  Write("upload.txt", "");
  EXPECT_TRUE(UploadCatalog(site, recorder, options).AllUploaded());
  EXPECT_EQ(recorder.started, 0);
}

// quillmart-cli upload in a working directory, with the store in a private
// configuration directory.
TEST_F(UploadCommand, CommandLineUploadsAndReportsEachFile) {
  WriteCatalog();
  QProcess cli;
  PrepareCommandLine(cli);
  cli.start(QM_CLI, {"upload", "--port", options.port});
  ASSERT_TRUE(cli.waitForFinished(30000));
  const QString out = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  // The two pages go at once over two sessions, in either order.
  QStringList lines = out.split('\n');
  std::sort(lines.begin(), lines.begin() + std::min<qsizetype>(2, lines.size()));
  EXPECT_EQ(lines.join('\n'),
            "uploaded A100.htm -> onlinecatalog/A100.htm\n"
            "uploaded B200.htm -> onlinecatalog/B200.htm\n"
            "uploaded catalog.htm -> onlinecatalog/catalog.htm\n"
            " Catalog has been uploaded \n");
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/A100.htm")), "<html>a</html>\r\n");

  Write("upload.txt", "catalog.htm\r\ngone.htm\r\n");
  cli.start(QM_CLI, {"upload", "--port", options.port});
  ASSERT_TRUE(cli.waitForFinished(30000));
  EXPECT_EQ(cli.exitCode(), 1);
  const QString failed = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_TRUE(failed.contains("FAILED gone.htm -> onlinecatalog/gone.htm: Could not store onlinecatalog/gone.htm: "
                              "426 Unable to open local file "))
      << failed.toStdString();
  EXPECT_FALSE(failed.contains("Catalog has been uploaded"));
  EXPECT_FALSE(failed.contains("secret"));

  // A neighbour in a shared folder names a FIFO in upload.txt, and a page
  // whose name holds terminal controls: the dry run and the upload neither
  // block nor print the controls; the FIFO fails alone, the rest goes up.
  ASSERT_EQ(::mkfifo(m_work.filePath("fifo.htm").toLocal8Bit().constData(), 0644), 0);
  Write("\x1b[2Jx.htm", "x");
  Write("upload.txt", "catalog.htm\r\nfifo.htm\r\n\x1b[2Jx.htm\r\n");
  cli.start(QM_CLI, {"upload", "--dry-run", "--port", options.port});
  const bool finished = cli.waitForFinished(10000);
  if (!finished) cli.kill();
  ASSERT_TRUE(finished) << "upload --dry-run blocked on the FIFO";
  EXPECT_EQ(cli.readAllStandardOutput().toStdString(),
            "would send fifo.htm -> onlinecatalog/fifo.htm\n"
            "would send \\x1B[2Jx.htm -> onlinecatalog/\\x1B[2Jx.htm\n"
            "would delete A100.htm -> onlinecatalog/A100.htm\n"
            "would delete B200.htm -> onlinecatalog/B200.htm\n"
            "1 unchanged\n");  // catalog.htm went up above; the failed upload kept the old pages
  const UploadResult result = UploadCatalog(site, recorder, options);
  ASSERT_EQ(result.files.size(), 4u);
  EXPECT_FALSE(result.files[0].uploaded);
  EXPECT_TRUE(result.files[0].reply.endsWith("426 Unable to open local file " + m_work.filePath("fifo.htm")))
      << result.files[0].reply.toStdString();
  EXPECT_TRUE(result.files[1].uploaded);
  EXPECT_EQ(ReadAll(Remote("onlinecatalog/\x1b[2Jx.htm")), "x");
}

// A hostile reply cannot drive the terminal: control characters come out escaped.
TEST(UploadCommandLine, ServerRepliesArePrintedWithControlCharactersEscaped) {
  using F = net::test::FakeFtpServer;
  F server({F::Send("220 ready\r\n"), F::Expect(), F::Send("500 no TLS\r\n"), F::Expect(),
            F::Send("331 password\r\n"), F::Expect(), F::Send("530 \x1b[2J\x1b[31mgone\x1b[0m\r\n")});
  QTemporaryDir config, work;
  {
    SettingsStore store(config.filePath("Quillmart.ini"));
    SiteSettings{"127.0.0.1", "user", "", "secret"}.Write(store);
  }
  std::ofstream(work.filePath("upload.txt").toStdString()) << "catalog.htm\r\n";
  std::ofstream(work.filePath("catalog.htm").toStdString()) << "c";
  QProcess cli;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", config.path());
  cli.setProcessEnvironment(env);
  cli.setWorkingDirectory(work.path());
  cli.start(QM_CLI, {"upload", "--port", QString::number(server.Port())});
  ASSERT_TRUE(cli.waitForFinished(30000));
  EXPECT_EQ(cli.exitCode(), 1);
  const QByteArray err = cli.readAllStandardError();
  EXPECT_TRUE(err.contains("Could not log in to 127.0.0.1 as user: 530 \\x1B[2J\\x1B[31mgone\\x1B[0m")) << err.toStdString();
  EXPECT_FALSE(err.contains('\x1b'));
  EXPECT_EQ(server.Transcript(), (std::vector<std::string>{"AUTH TLS", "USER user", "PASS secret"}));
}

}  // namespace
}  // namespace qm::catalog
