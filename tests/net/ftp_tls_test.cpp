// Explicit FTPS against pyftpdlib requiring TLS on the control and data
// connections, with a self-signed certificate made by openssl for the test.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "ftp_servers_util.h"
#include "net/ftp_publisher.h"

namespace qm::net {
namespace {

struct TestCertificate {
  QTemporaryDir dir;
  QString pem;
  std::string fingerprint;  // SHA-256, AA:BB:...

  TestCertificate() {
    const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
    QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                  "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    pem = dir.filePath("server.pem");
    QFile out(pem), k(key), c(cert);
    if (!out.open(QIODevice::WriteOnly) || !k.open(QIODevice::ReadOnly) || !c.open(QIODevice::ReadOnly)) return;
    out.write(k.readAll() + c.readAll());
    QProcess openssl;
    openssl.start("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", cert});
    openssl.waitForFinished();
    const QByteArray line = openssl.readAllStandardOutput().trimmed();  // "sha256 Fingerprint=AA:..."
    fingerprint = line.mid(line.indexOf('=') + 1).toStdString();
  }
};

TFtpPublishSite Site(int port, TFtpTlsMode mode) {
  TFtpPublishSite site;
  site.Address = ParseSiteAddress("127.0.0.1:" + std::to_string(port));
  site.UserName = "user";
  site.PassWord = "secret";
  site.TlsMode = mode;
  site.TimeoutSeconds = 5;
  site.RetryWaitsMs = {};
  return site;
}

TEST(FtpTls, SelfSignedCertificateIsRefusedUntilItsFingerprintIsTrusted) {
  TestCertificate certificate;
  ASSERT_FALSE(certificate.fingerprint.empty());
  test::PyFtpServer server({"--tls", certificate.pem});
  ASSERT_TRUE(server.Started());

  TFtpPublisher unverified(Site(server.Port(), ftpTlsRequired));
  EXPECT_FALSE(unverified.Open());
  EXPECT_EQ(unverified.Problem(), "Could not connect securely to 127.0.0.1 port " + std::to_string(server.Port()) +
                                      ": the certificate of 127.0.0.1 could not be verified (self-signed "
                                      "certificate); its SHA-256 fingerprint is " + certificate.fingerprint);

  TFtpPublishSite site = Site(server.Port(), ftpTlsRequired);
  site.TrustedFingerprint = certificate.fingerprint;
  QTemporaryDir local;
  const std::string page = local.filePath("catalog.htm").toStdString();
  std::ofstream(page, std::ios::binary) << std::string(300000, 't');
  for (TFtpModeChoice mode : {ftpModeAutomatic, ftpModeActive}) {
    site.ModeChoice = mode;
    TFtpPublisher trusted(site);
    ASSERT_TRUE(trusted.Open()) << trusted.Problem();
    EXPECT_TRUE(trusted.Encrypted());
    EXPECT_TRUE(trusted.Store(page, "catalog.htm")) << trusted.Problem();
    trusted.Close();
    QFile remote(QString::fromStdString(server.Root()) + "/catalog.htm");
    ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
    EXPECT_EQ(remote.readAll().size(), 300000);
  }

  TFtpPublisher plain(Site(server.Port(), ftpTlsPlain));
  EXPECT_FALSE(plain.Open());
  EXPECT_EQ(plain.Problem(), "Could not log in to 127.0.0.1 as user: 550 SSL/TLS required on the control channel.");
}

// "Test connection" from the command line: the unknown certificate is named
// with its fingerprint; trusting it stores it with the site, and the next
// upload goes over TLS with no word about a password in clear.
TEST(FtpTls, CheckShowsTheFingerprintAndTrustingItIsRemembered) {
  TestCertificate certificate;
  test::PyFtpServer server({"--tls", certificate.pem});
  ASSERT_TRUE(server.Started());
  QTemporaryDir config, work;
  {
    QFile ini(config.filePath("Quillmart.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Site Setup]\nremote address=ftp://127.0.0.1:" + QByteArray::number(server.Port()) +
              "\nuser name=user\nremote directory=site/\nremote password=secret\nTLS=required\n");
  }
  std::ofstream(work.filePath("catalog.htm").toStdString()) << "<html>tls</html>";
  std::ofstream(work.filePath("upload.txt").toStdString()) << "catalog.htm\r\n";
  const auto run = [&](const QStringList& args, QString* err = nullptr) {
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(work.path());
    cli.start(QM_CLI, QStringList{"upload"} + args);
    cli.waitForFinished(30000);
    if (err) *err = QString::fromUtf8(cli.readAllStandardError());
    return std::make_pair(cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()));
  };
  const auto [refused, refusedText] = run({"--check"});
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(refusedText.contains(QString::fromStdString("--trust-fingerprint " + certificate.fingerprint)))
      << refusedText.toStdString();
  const auto [checked, checkedText] = run({"--check", "--trust-fingerprint", QString::fromStdString(certificate.fingerprint)});
  EXPECT_EQ(checked, 0) << checkedText.toStdString();
  EXPECT_TRUE(checkedText.contains("logged in as user over TLS.")) << checkedText.toStdString();
  EXPECT_TRUE(checkedText.contains("The remote directory site does not exist yet")) << checkedText.toStdString();
  QString err;
  const auto [uploaded, uploadText] = run({}, &err);
  EXPECT_EQ(uploaded, 0) << uploadText.toStdString() << err.toStdString();
  EXPECT_FALSE(err.contains("in clear")) << err.toStdString();
  QFile remote(QString::fromStdString(server.Root()) + "/site/catalog.htm");
  ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
  EXPECT_EQ(remote.readAll(), "<html>tls</html>");
}

}  // namespace
}  // namespace qm::net
