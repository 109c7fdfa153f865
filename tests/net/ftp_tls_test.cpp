// Explicit FTPS against pyftpdlib requiring TLS on the control and data
// connections, with a self-signed certificate made by openssl for the test.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "ftp_daemons_util.h"
#include "ftp_servers_util.h"
#include "net/async_socket.h"
#include "net/ftp_publisher.h"
#include "net/message_pump.h"

namespace qm::net {
namespace {

using test::TestCertificate;

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
  EXPECT_EQ(unverified.Client().TlsFailure(), tlsCertificateUntrusted);  // what the site check acts on

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
    EXPECT_EQ(trusted.Client().TlsFailure(), tlsNoFailure);
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

// A server that agrees to AUTH TLS and then speaks no TLS: the handshake
// fails, which is no certificate to trust (the site check offers none).
TEST(FtpTls, HandshakeFailureIsNotAnUntrustedCertificate) {
  using F = test::FakeFtpServer;
  F server({F::Send("220 ready\r\n"), F::Expect(), F::Send("234 go ahead\r\n"), F::Pause(50),
            F::Send("this is not a TLS record\r\n"), F::Hold()});
  TFtpPublisher publisher(Site(server.Port(), ftpTlsRequired));
  EXPECT_FALSE(publisher.Open());
  EXPECT_EQ(publisher.Client().TlsFailure(), tlsHandshakeFailed);
  EXPECT_EQ(publisher.Problem().rfind("Could not connect securely to 127.0.0.1 port " + std::to_string(server.Port()) +
                                          ": The TLS handshake with 127.0.0.1 failed: ", 0), 0u)
      << publisher.Problem();
  EXPECT_EQ(server.Transcript(), (std::vector<std::string>{"AUTH TLS"}));
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

// A server that resets a TLS connection while our side is still open on it
// (vsftpd refusing a data connection does): our close alert then meets a
// connection that is gone. The connection ends; the program lives on (no SIGPIPE).
TEST(FtpTls, ConnectionDroppedUnderATlsWriteEndsItWithoutKillingTheProgram) {
  TestCertificate certificate;
  QProcess server;
  server.start("/usr/bin/python3", {"-c", R"(
import socket, ssl, struct, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1])
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
connection, _ = listener.accept()
tls = context.wrap_socket(connection, server_side=True)
received = 0
while received < 1000:
    received += len(tls.recv(1000 - received))
connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
connection.close()
)", certificate.pem});
  ASSERT_TRUE(server.waitForReadyRead(10000));
  const QByteArray port = server.readLine().trimmed();
  TAsyncSocket socket;
  bool closed = false;
  socket.OnSessionClosed = [&](TAsyncSocket&, int) { closed = true; };
  socket.OnDataAvailable = [](TAsyncSocket& connection, int) {
    char discard[256];
    if (connection.Receive(discard, sizeof discard) == 0) connection.Close();
  };
  socket.OnSessionConnected = [&](TAsyncSocket& connected, int error) {
    ASSERT_EQ(error, 0);
    connected.StartTls("127.0.0.1", nullptr, [&](int tlsError) {
      ASSERT_EQ(tlsError, 0);
      const std::string page(1000, 'p');
      connected.Send(page.data(), static_cast<int>(page.size()));
    });
  };
  socket.SetProto("tcp");
  socket.SetAddr("127.0.0.1");
  socket.SetPort(port.toStdString());
  socket.Connect();
  const qint64 until = TickCountMs() + 10000;
  while (!closed && TickCountMs() < until) PumpMessagesOnce(until);
  EXPECT_TRUE(closed);
  EXPECT_EQ(socket.State(), wsClosed);
  server.waitForFinished(3000);
}

TEST(FtpTls, PureFtpdRequiringTlsTakesTheCatalogOverTls) {
  TestCertificate certificate;
  test::PureFtpDaemon server(&certificate, {"-Y", "2"});  // TLS required of everyone
  if (!server.Started()) GTEST_SKIP() << "pure-ftpd cannot be started here (it needs root for its accounts)";
  QTemporaryDir local;
  const std::string page = local.filePath("catalog.htm").toStdString();
  std::ofstream(page, std::ios::binary) << std::string(200000, 'u');
  TFtpPublishSite site = Site(server.Port(), ftpTlsRequired);
  site.TrustedFingerprint = certificate.fingerprint;
  // pure-ftpd forks per session and checks its password database there: on a
  // loaded machine (the sanitized run) a log-in can take longer than 5 s.
  site.TimeoutSeconds = 15;
  TFtpPublisher publisher(site);
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  EXPECT_TRUE(publisher.MakeDirectories("shop/")) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page, "shop/catalog.htm")) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page, "shop/catalog.htm")) << publisher.Problem();  // over the existing file
  publisher.Close();
  QFile remote(server.Root() + "/shop/catalog.htm");
  ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
  EXPECT_EQ(remote.readAll().size(), 200000);
  TFtpPublishSite plainSite = Site(server.Port(), ftpTlsPlain);
  plainSite.TimeoutSeconds = 15;
  TFtpPublisher plain(plainSite);
  EXPECT_FALSE(plain.Open());
  EXPECT_NE(plain.Problem().find("Could not log in to 127.0.0.1 as user: "), std::string::npos) << plain.Problem();
}

}  // namespace
}  // namespace qm::net
