// TFtpPublisher: safe replace, data connection modes and reconnection, against
// scripted servers (exact transcripts) and against pyftpdlib.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "ftp_servers_util.h"
#include "net/ftp_listing.h"
#include "net/ftp_publisher.h"
#include "net/message_pump.h"

namespace qm::net {
namespace {

using test::FakeFtpServer;
using F = FakeFtpServer;
using Lines = std::vector<std::string>;

std::vector<F::Step> Login() {
  return {F::Send("220 fake ready\r\n"), F::Expect(), F::Send("331 password please\r\n"), F::Expect(),
          F::Send("230 logged in\r\n"), F::Expect(), F::Send("200 binary\r\n")};
}

std::vector<F::Step> Concat(std::vector<F::Step> a, const std::vector<F::Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One passive store of the temporary file, as the server sees it, and its
// answer to the size check that follows.
std::vector<F::Step> PassiveStore(const std::string& hostTuple = "127,0,0,1",
                                  const std::string& sizeReply = "502 SIZE not implemented\r\n") {
  return {F::Expect(), F::Passive(hostTuple), F::Expect(), F::Send("150 go\r\n"), F::ReceiveData(),
          F::Send("226 done\r\n"), F::Expect(), F::Send(sizeReply)};
}

// A store under the file's own name: no temporary file, so no size check.
std::vector<F::Step> PassiveStoreInPlace() {
  return {F::Expect(), F::Passive("127,0,0,1"), F::Expect(), F::Send("150 go\r\n"), F::ReceiveData(),
          F::Send("226 done\r\n")};
}

TFtpPublishSite Site(int port, const std::string& host = "127.0.0.1") {
  TFtpPublishSite site;
  site.Address = ParseSiteAddress(host + ":" + std::to_string(port));
  site.UserName = "user";
  site.PassWord = "secret";
  site.ModeChoice = ftpModePassive;
  site.TlsMode = ftpTlsPlain;  // the scripts speak no TLS
  site.TimeoutSeconds = 2;
  site.RetryWaitsMs = {20, 40, 80};
  return site;
}

struct LocalPage {
  QTemporaryDir dir;
  std::string path;
  explicit LocalPage(const std::string& bytes = "<html>new</html>\r\n") {
    path = dir.filePath("catalog.htm").toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
  }
};

TEST(FtpPublisher, RenameOverRefusedDeletesTheOldFileThenRenames) {
  LocalPage page;
  FakeFtpServer server(Concat(Concat(Login(), PassiveStore("127,0,0,1", "213 18\r\n")),
                              {F::Expect(), F::Send("350 ready\r\n"), F::Expect(), F::Send("553 file exists\r\n"),
                               F::Expect(), F::Send("250 deleted\r\n"), F::Expect(), F::Send("350 ready\r\n"),
                               F::Expect(), F::Send("250 renamed\r\n"), F::Expect(), F::Send("221 bye\r\n")}));
  TFtpPublisher publisher(Site(server.Port()));
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page.path, "site/catalog.htm")) << publisher.Problem();
  publisher.Close();
  const Lines transcript = server.Transcript();
  EXPECT_EQ(transcript, (Lines{"USER user", "PASS secret", "TYPE I", "PASV", "STOR site/catalog.htm.qmpart",
                               "<data 18 bytes>", "SIZE site/catalog.htm.qmpart", "RNFR site/catalog.htm.qmpart",
                               "RNTO site/catalog.htm", "DELE site/catalog.htm", "RNFR site/catalog.htm.qmpart", "RNTO site/catalog.htm",
                               "QUIT"}));
  EXPECT_EQ(server.ReceivedData(), "<html>new</html>\r\n");
}

// A server (or account) that cannot rename: the live file is never deleted;
// the temporary copy goes and the file is stored under its own name, and the
// next file goes straight there.
TEST(FtpPublisher, RefusedRenameStoresInPlaceAndNeverDeletesTheLiveFile) {
  LocalPage page;
  FakeFtpServer server(Concat(Concat(Concat(Concat(Login(), PassiveStore()),
                                            {F::Expect(), F::Send("550 Not enough privileges.\r\n"), F::Expect(),
                                             F::Send("250 deleted\r\n")}),
                                     PassiveStoreInPlace()),
                              Concat(PassiveStoreInPlace(), {F::Expect(), F::Send("221 bye\r\n")})));
  TFtpPublisher publisher(Site(server.Port()));
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page.path, "catalog.htm")) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page.path, "P1.htm")) << publisher.Problem();
  publisher.Close();
  EXPECT_EQ(server.Transcript(),
            (Lines{"USER user", "PASS secret", "TYPE I", "PASV", "STOR catalog.htm.qmpart", "<data 18 bytes>",
                   "SIZE catalog.htm.qmpart", "RNFR catalog.htm.qmpart", "DELE catalog.htm.qmpart", "PASV", "STOR catalog.htm",
                   "<data 18 bytes>", "PASV", "STOR P1.htm", "<data 18 bytes>", "QUIT"}));
  EXPECT_EQ(publisher.StoredInPlace(), (std::vector<std::string>{"catalog.htm", "P1.htm"}));
}

// A connect the system refuses at once is told in plain words, like a
// refused connection, not as a raw socket message with a line break.
TEST(FtpPublisher, UnreachableNetworkIsToldInPlainWords) {
  TFtpPublisher publisher(Site(21, "224.0.0.1"));  // multicast: no route for a TCP connection
  EXPECT_FALSE(publisher.Open());
  EXPECT_EQ(publisher.Problem(), "Could not connect to 224.0.0.1 port 21: network is unreachable");
}

// LIST replies as servers write them: Unix with and without the group, DOS.
TEST(FtpListing, SizesOfRegularFilesInUnixAndDosListings) {
  const std::map<std::string, long long> files = ParseListing(
      "total 12\r\n"
      "-rw-r--r--    1 1001     1001         1234 Dec  9 11:00 catalog.htm\r\n"
      "-rw-r--r--   1 owner  5 Jan 01  2025 my page.htm\r\n"
      "drwxr-xr-x    2 ftp      ftp          4096 Dec  9 11:00 images\r\n"
      "lrwxrwxrwx    1 ftp      ftp             7 Dec  9 11:00 link.htm -> x.htm\r\n"
      "12-09-26  11:00AM                  987 P1.htm\r\n"
      "12-09-26  11:00AM       <DIR>          old\r\n"
      "-rw-r--r-- 1 a b 99999999999999999999999 Dec 9 11:00 huge.htm\n");
  EXPECT_EQ(files, (std::map<std::string, long long>{{"catalog.htm", 1234}, {"my page.htm", 5}, {"P1.htm", 987}}));
}

// Behind NAT the server names its private address: the data connection goes
// to the host of the control connection (127.0.0.2), never to 10.0.0.5.
TEST(FtpPublisher, PassiveReplyWithAPrivateAddressUsesTheControlPeer) {
  LocalPage page("x");
  FakeFtpServer server(Concat(Concat(Login(), PassiveStore("10,0,0,5")),
                              {F::Expect(), F::Send("350 ready\r\n"), F::Expect(), F::Send("250 renamed\r\n")}),
                       "127.0.0.2");
  TFtpPublisher publisher(Site(server.Port(), "127.0.0.2"));
  Lines display;
  publisher.Client().OnDisplay = [&](TCustomFtpClient&, std::string& line) { display.push_back(line); };
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page.path, "p.htm")) << publisher.Problem();
  publisher.Client().Abort();
  EXPECT_EQ(server.ReceivedData(), "x");
  EXPECT_NE(std::find(display.begin(), display.end(),
                      "! Passive address 10.0.0.5 ignored, using 127.0.0.2"), display.end());
}

// 421 in the middle of a transfer, then a server that falls silent: each time
// the session is made again and the file goes up in full on the new one.
TEST(FtpPublisher, LostAndSilentSessionsAreReconnectedAndTheFileSentAgain) {
  LocalPage page(std::string(100000, 'p'));
  FakeFtpServer server(Concat(Concat(Concat(Login(),
      {F::Expect(), F::Passive("127,0,0,1"), F::Expect(), F::Send("421 Service closing\r\n"), F::NextControl()}),
      Concat(Login(), {F::Expect(), F::Pause(2600), F::NextControl()})),
      Concat(Concat(Login(), PassiveStore()),
             {F::Expect(), F::Send("350 ready\r\n"), F::Expect(), F::Send("250 renamed\r\n"), F::Expect(),
              F::Send("221 bye\r\n")})));
  TFtpPublisher publisher(Site(server.Port()));
  ASSERT_TRUE(publisher.Open());
  const qint64 start = TickCountMs();
  EXPECT_TRUE(publisher.Store(page.path, "catalog.htm")) << publisher.Problem();
  EXPECT_LT(TickCountMs() - start, 8000);
  ASSERT_EQ(publisher.Retried().size(), 2u);
  EXPECT_EQ(publisher.Retried()[0].rfind("catalog.htm (Could not store catalog.htm: 421 Service closing", 0), 0u)
      << publisher.Retried()[0];
  EXPECT_NE(publisher.Retried()[1].find("no progress for 2 seconds"), std::string::npos) << publisher.Retried()[1];
  publisher.Close();
  EXPECT_EQ(server.ReceivedData(), std::string(100000, 'p'));
}

TEST(FtpPublisher, SiteAddressesAsUsersTypeThem) {
  EXPECT_EQ(ParseSiteAddress("ftp.example.com").Describe(), "ftp.example.com port 21");
  EXPECT_EQ(ParseSiteAddress(" ftp.example.com:2121 ").Port, 2121);
  const TFtpSiteAddress url = ParseSiteAddress("FTP://shop@ftp.example.com:2100/www/");
  EXPECT_EQ(url.Host, "ftp.example.com");
  EXPECT_EQ(url.Port, 2100);
  EXPECT_EQ(url.Path, "www/");
  const TFtpSiteAddress tls = ParseSiteAddress("ftps://ftp.example.com");
  EXPECT_TRUE(tls.ImplicitTls);
  EXPECT_EQ(tls.Port, 990);
  EXPECT_EQ(ParseSiteAddress("[::1]:2121").Describe(), "[::1] port 2121");
  EXPECT_EQ(ParseSiteAddress("2001:db8::1").Host, "2001:db8::1");
  EXPECT_THROW(ParseSiteAddress("http://example.com"), std::invalid_argument);
  EXPECT_THROW(ParseSiteAddress("host:99999"), std::invalid_argument);
  EXPECT_THROW(ParseSiteAddress(""), std::invalid_argument);
}

// pyftpdlib refusing active mode: automatic finds a mode that works, "active"
// says plainly why it cannot.
TEST(FtpPublisher, PassiveOnlyServerWorksInAutomaticAndPassiveModes) {
  test::PyFtpServer server({"--passive-only"});
  ASSERT_TRUE(server.Started());
  LocalPage page("<p>passive</p>");
  for (TFtpModeChoice choice : {ftpModeAutomatic, ftpModePassive, ftpModeActive}) {
    TFtpPublishSite site = Site(server.Port());
    site.ModeChoice = choice;
    TFtpPublisher publisher(site);
    ASSERT_TRUE(publisher.Open()) << publisher.Problem();
    const bool stored = publisher.Store(page.path, "catalog.htm");
    EXPECT_EQ(stored, choice != ftpModeActive) << publisher.Problem();
    if (choice == ftpModeActive)
      EXPECT_EQ(publisher.Problem(), "Could not store catalog.htm: 500 Active mode is not allowed here.");
    else
      EXPECT_EQ(*publisher.WorkingMode(), choice == ftpModeAutomatic ? ftpDataExtendedPassive : ftpDataPassive);
    publisher.Close();
  }
  QFile remote(QString::fromStdString(server.Root()) + "/catalog.htm");
  ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
  EXPECT_EQ(remote.readAll(), "<p>passive</p>");
}

// An IPv6 server: EPSV in automatic and passive mode (PASV names IPv4
// addresses only), EPRT in active mode.
TEST(FtpPublisher, IPv6ServerTakesFilesInEveryMode) {
  QTemporaryDir logDir;
  const QString log = logDir.filePath("ftp.log");
  test::PyFtpServer server({"--host", "::1", "--log", log});
  ASSERT_TRUE(server.Started());
  LocalPage page("<p>six</p>");
  for (TFtpModeChoice choice : {ftpModeAutomatic, ftpModePassive, ftpModeActive}) {
    TFtpPublishSite site = Site(server.Port());
    site.Address = ParseSiteAddress("ftp://[::1]:" + std::to_string(server.Port()) + "/");
    site.ModeChoice = choice;
    TFtpPublisher publisher(site);
    ASSERT_TRUE(publisher.Open()) << publisher.Problem();
    const char* name = choice == ftpModeActive ? "active.htm" : choice == ftpModePassive ? "passive.htm" : "auto.htm";
    EXPECT_TRUE(publisher.Store(page.path, name)) << publisher.Problem();
    publisher.Close();
  }
  QFile logFile(log);
  ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
  const QByteArray commands = logFile.readAll();
  EXPECT_FALSE(commands.contains("PASV")) << commands.toStdString();
  for (const char* name : {"/active.htm", "/auto.htm", "/passive.htm"}) {
    QFile remote(QString::fromStdString(server.Root()) + name);
    ASSERT_TRUE(remote.open(QIODevice::ReadOnly)) << name;
    EXPECT_EQ(remote.readAll(), "<p>six</p>");
  }
}

// The server dies halfway through a throttled upload: the good copy on the
// server stays as it was, and no partial page takes its place.
TEST(FtpPublisher, ServerKilledMidUploadLeavesTheOldFileIntact) {
  test::PyFtpServer server({"--throttle", "100000"});
  ASSERT_TRUE(server.Started());
  const QString remotePath = QString::fromStdString(server.Root()) + "/catalog.htm";
  {
    QFile old(remotePath);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("<html>good old catalog</html>");
  }
  LocalPage page(std::string(1000000, 'n'));
  TFtpPublisher publisher(Site(server.Port()));
  ASSERT_TRUE(publisher.Open());
  QTimer::singleShot(400, [&server] { server.Kill(); });
  EXPECT_FALSE(publisher.Store(page.path, "catalog.htm"));
  EXPECT_EQ(publisher.Problem(), "Could not connect to 127.0.0.1 port " + std::to_string(server.Port()) +
                                     ": connection refused");
  QFile remote(remotePath);
  ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
  EXPECT_EQ(remote.readAll(), "<html>good old catalog</html>");
}

// A store the server cut short, or one whose stored temporary file has the
// wrong size, never replaces the live page: the temporary file is deleted.
TEST(FtpPublisher, ShortStoredFileIsNeverRenamedIntoPlace) {
  LocalPage page(std::string(8 << 20, 's'));
  const std::string size = std::to_string(8 << 20);
  FakeFtpServer server(Concat(Login(), {
      F::Expect(), F::Passive("127,0,0,1"), F::Expect(), F::Send("150 go\r\n"), F::ReceiveData(),
      F::Send("226 done\r\n"), F::Expect(), F::Send("213 100\r\n"), F::Expect(), F::Send("250 deleted\r\n"),
      F::Expect(), F::Passive("127,0,0,1"), F::Expect(), F::Send("150 go\r\n"), F::ReceiveDataCut(100),
      F::Send("226 done\r\n"), F::Expect(), F::Send("250 deleted\r\n"), F::Expect(), F::Send("221 bye\r\n")}));
  TFtpPublisher publisher(Site(server.Port()));
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  EXPECT_FALSE(publisher.Store(page.path, "catalog.htm"));
  EXPECT_EQ(publisher.Problem(), "Could not store catalog.htm: the server holds 100 of its " + size + " bytes");
  EXPECT_FALSE(publisher.Store(page.path, "catalog.htm"));
  // Ended early, or reset: which one the client sees first is the system's affair.
  EXPECT_EQ(publisher.Problem().rfind("Could not store catalog.htm: 426 The data connection ", 0), 0u) << publisher.Problem();
  EXPECT_TRUE(publisher.Retried().empty());
  publisher.Close();
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "PASS secret", "TYPE I", "PASV", "STOR catalog.htm.qmpart",
                                        "<data " + size + " bytes>", "SIZE catalog.htm.qmpart", "DELE catalog.htm.qmpart",
                                        "PASV", "STOR catalog.htm.qmpart", "<data 100 bytes>",
                                        "DELE catalog.htm.qmpart", "QUIT"}));
}

// Who ended the session is told as it was: a server's refusal is its reply;
// a banner of another protocol is refused by us; a line break in the
// password stops the log-in before anything is sent, and is never shown.
TEST(FtpPublisher, RefusedSessionsSayWhoRefused) {
  FakeFtpServer full({F::Send("421 Too many users\r\n")});
  TFtpPublisher refused(Site(full.Port()));
  EXPECT_FALSE(refused.Open());
  EXPECT_EQ(refused.Problem(), "127.0.0.1 port " + std::to_string(full.Port()) + " refused the session: 421 Too many users");
  FakeFtpServer ssh({F::Send("SSH-2.0-OpenSSH_9.2\r\n")});
  TFtpPublisher other(Site(ssh.Port()));
  EXPECT_FALSE(other.Open());
  EXPECT_EQ(other.Problem(), "127.0.0.1 port " + std::to_string(ssh.Port()) +
                                 " does not answer as an FTP server: SSH-2.0-OpenSSH_9.2");
  TFtpPublishSite site = Site(1);
  site.PassWord = "se\ncret";
  TFtpPublisher broken(site);
  EXPECT_FALSE(broken.Open());
  EXPECT_EQ(broken.Problem(), "Could not log in to 127.0.0.1: the password of the site setup holds a line break, "
                              "which FTP cannot send");
  EXPECT_TRUE(full.Transcript().empty());
  EXPECT_TRUE(ssh.Transcript().empty());
}

// A server that stalls every store (it takes the data connection and reads
// nothing): each try fails after the time-out without progress, and the
// reconnections are counted over the whole upload, so the later files are
// not tried and the upload ends in a bounded time that the replies state.
TEST(FtpPublisher, StalledStoresEndTheUploadInABoundedTime) {
  LocalPage page(std::string(16 << 20, 'w'));  // more than the socket buffers take
  const auto stalledSession = [](bool last) {
    std::vector<F::Step> steps = Concat(Login(), {F::Expect(), F::Passive("127,0,0,1"), F::Expect(),
                                                  F::Send("150 go\r\n"), F::Hold()});
    if (!last) steps.push_back(F::NextControl());
    return steps;
  };
  FakeFtpServer server(Concat(Concat(stalledSession(false), stalledSession(false)),
                              Concat(stalledSession(false), stalledSession(true))));
  TFtpPublishSite site = Site(server.Port());
  site.TimeoutSeconds = 1;
  TFtpPublisher publisher(site);
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  const qint64 start = TickCountMs();
  EXPECT_FALSE(publisher.Store(page.path, "a.htm"));
  EXPECT_EQ(publisher.Problem(), "Could not store a.htm: no progress for 1 second");
  for (const char* name : {"b.htm", "catalog.htm"}) {
    EXPECT_FALSE(publisher.Store(page.path, name));
    EXPECT_EQ(publisher.Problem().rfind("Not tried: the session with 127.0.0.1 port " + std::to_string(server.Port()) +
                                        " was lost again after 3 reconnections in ", 0), 0u) << publisher.Problem();
  }
  EXPECT_LT(TickCountMs() - start, 20000);  // four stalls at most, not four per file
  ASSERT_EQ(publisher.Retried().size(), 3u);
  EXPECT_EQ(publisher.Retried()[0], "a.htm (Could not store a.htm: no progress for 1 second)");
  const Lines transcript = server.Transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER user"), 4);
}

// A slow server is not a stalled one: a page that takes longer than the
// time-out to be read still moves (pyftpdlib reads in bursts with pauses of
// up to 2.6 seconds, longer on a loaded machine), and it goes up whole.
TEST(FtpPublisher, SlowServerIsNotTimedOutWhileTheDataMoves) {
  test::PyFtpServer server({"--throttle", "50000"});
  ASSERT_TRUE(server.Started());
  LocalPage page(std::string(400000, 'm'));  // 8 seconds at the throttle
  TFtpPublishSite site = Site(server.Port());
  site.TimeoutSeconds = 6;
  TFtpPublisher publisher(site);
  ASSERT_TRUE(publisher.Open()) << publisher.Problem();
  EXPECT_TRUE(publisher.Store(page.path, "slow.htm")) << publisher.Problem();
  EXPECT_TRUE(publisher.Retried().empty());
  publisher.Close();
  EXPECT_EQ(QFileInfo(QString::fromStdString(server.Root()) + "/slow.htm").size(), 400000);
}

}  // namespace
}  // namespace qm::net
