// The FTP client against a scripted fake server: what real servers rarely do,
// checked against the exact command transcript the client sent.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>

#include "ftp_servers_util.h"
#include "net/ftp_sync_client.h"
#include "net/message_pump.h"

namespace qm::net {
namespace {

using test::FakeFtpServer;
using F = FakeFtpServer;
using Lines = std::vector<std::string>;

const std::string kWelcome = "220 fake server ready\r\n";

struct Session {
  TFtpClient client;
  Lines display;
  int requestsDone = 0;

  explicit Session(int port, int timeout = 5) {
    client.HostName = "127.0.0.1";
    client.Port = std::to_string(port);
    client.UserName = "user";
    client.PassWord = "secret";
    client.Timeout = timeout;
    client.OnDisplay = [this](TCustomFtpClient&, std::string& m) { display.push_back(m); };
    client.OnRequestDone = [this](TCustomFtpClient&, TFtpRequest, int) { ++requestsDone; };
  }
  void PumpPending() { PumpMessagesOnce(TickCountMs() + 50); }
};

// The login exchange of a server that wants a password.
std::vector<F::Step> Login() {
  return {F::Send(kWelcome), F::Expect(), F::Send("331 password please\r\n"), F::Expect(),
          F::Send("230 logged in\r\n")};
}

std::vector<F::Step> Concat(std::vector<F::Step> a, const std::vector<F::Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string WriteFile(const QTemporaryDir& dir, const std::string& name, const std::string& bytes) {
  const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(FtpSession, MultiLineRepliesAreActedOnAtTheirFinalLine) {
  FakeFtpServer server({F::Send("220-Welcome\r\n220-230 hyphenated lines are never final\r\n220 ready\r\n"),
                        F::Expect(), F::Send("331-Password\r\n331-230 still the same reply\r\n331 needed\r\n"),
                        F::Expect(), F::Send("230 in\r\n"), F::Expect(), F::Send("221 bye\r\n")});
  Session s(server.Port());
  EXPECT_TRUE(s.client.Connect());
  EXPECT_EQ(s.client.LastReply, "230 in");
  EXPECT_TRUE(s.client.Quit());
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "PASS secret", "QUIT"}));
  EXPECT_FALSE(s.client.Connected());
  // The password never reaches the display lines.
  EXPECT_NE(std::find(s.display.begin(), s.display.end(), "> PASS ****"), s.display.end());
  for (const auto& line : s.display) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

// RFC 959 4.2: inside a multi-line reply only "xyz " closes it; middle lines
// that start with digits, blanks or nothing in particular are text.
TEST(FtpSession, MiddleLinesOfMultiLineRepliesMayStartWithAnything) {
  FakeFtpServer server({F::Send("220-Welcome\r\nRules of this server:\r\n 1. be nice\r\n220 ready\r\n"),
                        F::Expect(), F::Send("331 password\r\n"), F::Expect(),
                        F::Send("230-Hello\r\n0 new messages\r\n530 is not an answer here\r\n230 in\r\n"),
                        F::Expect(), F::Send("200 ok\r\n")});
  Session s(server.Port());
  EXPECT_TRUE(s.client.Connect()) << s.client.ErrorMessage();
  EXPECT_EQ(s.client.LastReply, "230 in");
  EXPECT_TRUE(s.client.TypeSet());  // the reply count stayed in step with the commands
  s.client.Abort();
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "PASS secret", "TYPE I"}));
}

TEST(FtpSession, ReplySplitAcrossSegments) {
  FakeFtpServer server({F::Send("22"), F::Pause(30), F::Send("0 rea"), F::Pause(30), F::Send("dy\r"),
                        F::Pause(30), F::Send("\n"), F::Expect(), F::Send("3"), F::Pause(30),
                        F::Send("31 need\r\n23"), F::Pause(30), F::Send("0 ok\r\n")});
  Session s(server.Port());
  EXPECT_TRUE(s.client.Connect());
  EXPECT_EQ(s.client.ReplyCode, 230);
  s.client.Abort();
  EXPECT_EQ(server.Transcript(), (Lines{"USER user"}));  // 230 came before PASS was due
}

TEST(FtpSession, UserAnswered230SkipsPass) {
  FakeFtpServer server({F::Send(kWelcome), F::Expect(), F::Send("230 no password needed\r\n"),
                        F::Expect(), F::Send("221 bye\r\n")});
  Session s(server.Port());
  EXPECT_TRUE(s.client.Connect());
  EXPECT_TRUE(s.client.Quit());
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "QUIT"}));
}

TEST(FtpSession, ServerThatNeverAnswersTimesOut) {
  FakeFtpServer server({F::Send(kWelcome), F::Expect(), F::Hold()});
  Session s(server.Port(), 1);
  const qint64 start = TickCountMs();
  EXPECT_FALSE(s.client.Connect());
  EXPECT_GE(TickCountMs() - start, 1000);
  EXPECT_EQ(s.client.ErrorMessage(), "426 Timeout");
  EXPECT_EQ(s.client.ReplyCode, 426);
  EXPECT_EQ(s.client.State(), fcsReady);
  EXPECT_FALSE(s.client.Connected());
  EXPECT_FALSE(s.client.Put());  // the aborted session is gone
  EXPECT_EQ(server.Transcript(), (Lines{"USER user"}));
}

// A step that cannot start ends the request at once with its reason; it
// never waits for the time-out.
TEST(FtpSession, EmptyUserNameOrPasswordFailsTheLogInAtOnce) {
  FakeFtpServer server({F::Send(kWelcome), F::Hold()});
  Session s(server.Port(), 5);
  s.client.UserName.clear();
  const qint64 start = TickCountMs();
  EXPECT_FALSE(s.client.Connect());
  EXPECT_EQ(s.client.ErrorMessage(), "UserName emtpy");
  s.client.Abort();
  FakeFtpServer second({F::Send(kWelcome), F::Expect(), F::Send("331 password please\r\n"), F::Hold()});
  Session t(second.Port(), 5);
  t.client.PassWord.clear();
  EXPECT_FALSE(t.client.Connect());
  EXPECT_EQ(t.client.ErrorMessage(), "no password set");
  EXPECT_EQ(t.client.FailureCode, 530);
  EXPECT_LT(TickCountMs() - start, 3000);
  t.client.Abort();
  EXPECT_EQ(second.Transcript(), (Lines{"USER user"}));  // no PASS went out
}

TEST(FtpSession, ServerClosingMidRequestFailsTheRequest) {
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::CloseControl()}));
  Session s(server.Port());
  ASSERT_TRUE(s.client.Connect());
  s.client.LocalFileName = "unused";
  const qint64 start = TickCountMs();
  EXPECT_FALSE(s.client.Put());  // the PORT reply never came
  EXPECT_LT(TickCountMs() - start, 4000) << ::testing::PrintToString(s.display);
  EXPECT_EQ(s.client.FailureCode, 421);
  EXPECT_FALSE(s.client.Connected());
  EXPECT_FALSE(s.client.Quit());  // "FTP component not connected"
  const Lines transcript = server.Transcript();
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[2].rfind("PORT 127,0,0,1,", 0), 0u);
}

TEST(FtpSession, LineOf4096BytesWithoutCrLfEndsTheSession) {
  FakeFtpServer server({F::Send(std::string(4096, 'x'))});
  Session s(server.Port(), 10);
  EXPECT_FALSE(s.client.Connect());
  // Closed at once by the client, not timed out, and not told as the server's doing.
  EXPECT_EQ(s.client.ErrorMessage(), "a line of 4096 bytes without an end, which is no FTP reply");
  EXPECT_FALSE(s.client.Connected());
}

TEST(FtpSession, RefusedConnectionAndUnknownHostGiveSocketErrorLines) {
  Session refused(1);
  EXPECT_FALSE(refused.client.Connect());
  EXPECT_EQ(refused.client.FailureCode, 10061);
  EXPECT_EQ(refused.client.LastReply, "500 Connection refused (Winsock error #10061)");
  EXPECT_EQ(refused.client.ReplyCode, 500);

  Session unknown(21);
  unknown.client.HostName = "no-such-host.invalid";
  EXPECT_FALSE(unknown.client.Connect());
  EXPECT_TRUE(unknown.client.FailureCode == 11001 || unknown.client.FailureCode == 11002)
      << unknown.client.FailureCode;
  EXPECT_EQ(unknown.client.LastReply.rfind("500 ", 0), 0u);

  Session empty(21);
  empty.client.HostName.clear();
  EXPECT_FALSE(empty.client.Connect());
  EXPECT_EQ(empty.client.ErrorMessage(), "DNS lookup: invalid host name.");
  EXPECT_EQ(empty.client.State(), fcsLookingUp);
  EXPECT_FALSE(empty.client.Quit());
  EXPECT_EQ(empty.client.ErrorMessage(), "FTP component not ready");  // still looking the host up
}

TEST(FtpSession, DataConnectionFromForeignAddressIsRefused) {
  QTemporaryDir dir;
  const std::string content = "<html>catalog</html>\r\n";
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::Send("200 PORT ok\r\n"), F::Expect(),
                                        F::Send("150 opening\r\n"), F::ForeignData(), F::ReceiveData(),
                                        F::Send("226 done\r\n"), F::Expect(), F::Send("221 bye\r\n")}));
  Session s(server.Port());
  ASSERT_TRUE(s.client.Connect());
  s.client.LocalFileName = WriteFile(dir, "catalog.htm", content);
  s.client.HostFileName = "site/catalog.htm";
  EXPECT_TRUE(s.client.Put());
  EXPECT_EQ(s.client.TransferCount, static_cast<int>(content.size()));
  EXPECT_TRUE(s.client.Quit());
  const Lines transcript = server.Transcript();
  ASSERT_EQ(transcript.size(), 7u) << ::testing::PrintToString(transcript);
  EXPECT_EQ(transcript[3], "STOR site/catalog.htm");
  EXPECT_EQ(transcript[4], "<foreign refused>");
  EXPECT_EQ(transcript[5], "<data " + std::to_string(content.size()) + " bytes>");
  EXPECT_EQ(server.ReceivedData(), content);
}

TEST(FtpSession, TransferReplyBeforeOrAfterDataCloseCompletesOnce) {
  QTemporaryDir dir;
  const std::string content(5000, 'z');
  FakeFtpServer server(Concat(Login(), {
      F::Expect(), F::Send("200 ok\r\n"), F::Expect(),  // 226 before the data has even started
      F::Send("150-opening\r\n150 now\r\n226-early\r\n226 done\r\n"), F::ReceiveData(),
      F::Expect(), F::Send("200 ok\r\n"), F::Expect(),  // 226 after the data connection closed
      F::Send("150 opening\r\n"), F::ReceiveData(), F::Pause(100), F::Send("226 done\r\n"),
      F::Expect(), F::Send("221 bye\r\n")}));
  Session s(server.Port());
  s.client.LocalFileName = WriteFile(dir, "five.bin", content);
  s.client.HostFileName = "five.bin";
  ASSERT_TRUE(s.client.Connect());
  s.PumpPending();
  const int afterConnect = s.requestsDone;
  EXPECT_TRUE(s.client.Put());
  EXPECT_EQ(s.client.LastReply, "226 done");
  EXPECT_TRUE(s.client.Put()) << ::testing::PrintToString(s.display);
  EXPECT_TRUE(s.client.Quit());
  s.PumpPending();
  EXPECT_EQ(s.requestsDone - afterConnect, 3);  // one OnRequestDone per call
  EXPECT_TRUE(server.ReceivedData() == content + content);
  const auto stats = std::count_if(s.display.begin(), s.display.end(), [](const std::string& l) {
    return l.rfind("! 5000 bytes received/sent in 0 seconds", 0) == 0;
  });
  EXPECT_EQ(stats, 2);
}

// Every change of the protocol state is traced on "qm.net.ftp": a store's
// reply phase and its data link, each in its order, back to idle and closed.
TEST(FtpSession, StateChangesOfATransferAreTraced) {
  static Lines* trace = nullptr;
  Lines lines;
  trace = &lines;
  QLoggingCategory::setFilterRules("qm.net.ftp.debug=true");
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& text) {
        if (trace && context.category && std::strcmp(context.category, "qm.net.ftp") == 0)
          trace->push_back(text.toStdString());
      });
  const auto restore = qScopeGuard([previous] {
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules({});
    trace = nullptr;
  });
  QTemporaryDir dir;
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::Send("200 ok\r\n"), F::Expect(),
                                        F::Send("150 opening\r\n"), F::ReceiveData(), F::Send("226 done\r\n")}));
  Session s(server.Port());
  s.client.LocalFileName = WriteFile(dir, "page.htm", std::string(3000, 'p'));
  s.client.HostFileName = "page.htm";
  ASSERT_TRUE(s.client.Connect());
  EXPECT_TRUE(s.client.Put());
  const auto inOrder = [&lines](const Lines& expected) {
    size_t at = 0;
    for (const auto& line : lines) at += at < expected.size() && line == expected[at];
    return at == expected.size();
  };
  EXPECT_TRUE(inOrder({"phase frpIdle -> frpTransferStart (step STOR)",
                       "state fcsBetweenSteps -> fcsAwaitingReply (step STOR)",
                       "phase frpTransferStart -> frpTransferEnd (step STOR)",
                       "phase frpTransferEnd -> frpTransferConfirmed (step STOR)",
                       "phase frpTransferConfirmed -> frpIdle (step STOR)",
                       "state fcsBetweenSteps -> fcsReady (step STOR)"}))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(inOrder({"data link fdlNone -> fdlFlowing (step STOR)", "data link fdlFlowing -> fdlFileSent (step STOR)",
                       "data link fdlFileSent -> fdlShutDown (step STOR)", "data link fdlShutDown -> fdlClosed (step STOR)"}))
      << ::testing::PrintToString(lines);
}

TEST(FtpSession, CwdAndPwdReportTheQuotedDirectory) {
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::Send("257 \"/a \"\"b\"\"\" is current\r\n"),
                                        F::Expect(), F::Send("550 no such directory\r\n"),
                                        F::Expect(), F::Send("213 1234\r\n")}));
  Session s(server.Port());
  ASSERT_TRUE(s.client.Connect());
  EXPECT_TRUE(s.client.Pwd());
  EXPECT_EQ(s.client.ReplyDirectory, "/a \"b\"");
  s.client.HostDirName = "missing";
  EXPECT_FALSE(s.client.Cwd());
  EXPECT_EQ(s.client.FailureCode, 550);
  EXPECT_EQ(s.client.ErrorMessage(), "550 no such directory");
  s.client.HostFileName = "f";
  EXPECT_TRUE(s.client.Size());
  EXPECT_EQ(s.client.RemoteFileSize, 1234);
  s.client.Abort();
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "PASS secret", "PWD", "CWD missing", "SIZE f"}));
}

// A server that is not 127.0.0.1 is told the local address of the control
// connection, byte by byte in network order.
TEST(FtpSession, PortAnnouncesTheControlConnectionsLocalAddress) {
  QTemporaryDir dir;
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::Send("200 ok\r\n"), F::Expect(),
                                        F::Send("150 go\r\n"), F::ReceiveData(), F::Send("226 done\r\n")}),
                       "127.0.0.2");
  Session s(server.Port());
  s.client.HostName = "127.0.0.2";
  s.client.LocalFileName = WriteFile(dir, "p.htm", "page");
  s.client.HostFileName = "p.htm";
  ASSERT_TRUE(s.client.Connect());
  EXPECT_TRUE(s.client.Put());
  EXPECT_FALSE(s.client.Connect());  // already connected
  EXPECT_EQ(s.client.ErrorMessage(), "FTP component already connected");
  s.client.Abort();
  const Lines transcript = server.Transcript();
  ASSERT_GE(transcript.size(), 3u);
  EXPECT_EQ(transcript[2].rfind("PORT 127,0,0,1,", 0), 0u) << transcript[2];  // lo answers from 127.0.0.1
  EXPECT_EQ(server.ReceivedData(), "page");
}

TEST(FtpSession, LineBreakInAnOperandIsNeverSent) {
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::Send("221 bye\r\n")}));
  Session s(server.Port());
  ASSERT_TRUE(s.client.Connect());
  s.client.HostDirName = "site\r\nDELE catalog.htm";
  EXPECT_FALSE(s.client.Cwd());
  EXPECT_EQ(s.client.ErrorMessage(), "FTP command holds a line break");
  EXPECT_TRUE(s.client.Quit());
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "PASS secret", "QUIT"}));
}

// A server that hangs up on the data connection after 100 bytes of a large
// page has not stored it, whether its 226 comes after the cut or before it.
TEST(FtpSession, StoreCutShortFailsWhateverTheServerAnswers) {
  QTemporaryDir dir;
  const std::string page(8 << 20, 'c');  // more than the socket buffers take at once
  FakeFtpServer server(Concat(Login(), {
      F::Expect(), F::Send("200 ok\r\n"), F::Expect(), F::Send("150 go\r\n"), F::ReceiveDataCut(100),
      F::Send("226 done\r\n"),
      F::Expect(), F::Send("200 ok\r\n"), F::Expect(), F::Send("150 go\r\n226 done\r\n"), F::ReceiveDataCut(100),
      F::Expect(), F::Send("221 bye\r\n")}));
  Session s(server.Port());
  s.client.LocalFileName = WriteFile(dir, "big.htm", page);
  s.client.HostFileName = "big.htm";
  ASSERT_TRUE(s.client.Connect());
  for (const char* order : {"226 after the cut", "226 before the cut"}) {
    EXPECT_FALSE(s.client.Put()) << order;
    EXPECT_NE(s.client.FailureCode, 0) << order;
    EXPECT_EQ(s.client.ErrorMessage().rfind("426 The data connection ", 0), 0u) << order << ": " << s.client.ErrorMessage();
    EXPECT_TRUE(s.client.Connected()) << order;  // the session itself is fine
  }
  EXPECT_TRUE(s.client.Quit());
  const Lines transcript = server.Transcript();
  ASSERT_EQ(transcript.size(), 9u) << ::testing::PrintToString(transcript);
  EXPECT_EQ(transcript[4], "<data 100 bytes>");
  EXPECT_EQ(transcript[7], "<data 100 bytes>");
}

// A PASV reply naming another host is not followed: the data connection goes
// to the control connection's host, unless the user allows the server's
// address (behind NAT); then 127.0.0.2, where nothing listens, is tried.
TEST(FtpSession, PassiveReplyNamingAnotherHostGoesToTheControlHost) {
  QTemporaryDir dir;
  FakeFtpServer server(Concat(Login(), {F::Expect(), F::Passive("127,0,0,2"), F::Expect(), F::Send("150 go\r\n"),
                                        F::ReceiveData(), F::Send("226 done\r\n"),
                                        F::Expect(), F::Passive("127,0,0,2"), F::Expect(), F::Send("221 bye\r\n")}));
  Session s(server.Port());
  s.client.DataMode = ftpDataPassive;
  s.client.LocalFileName = WriteFile(dir, "p.htm", "page");
  s.client.HostFileName = "p.htm";
  ASSERT_TRUE(s.client.Connect());
  EXPECT_TRUE(s.client.Put()) << s.client.ErrorMessage();
  EXPECT_NE(std::find(s.display.begin(), s.display.end(), "! Passive address 127.0.0.2 ignored, using 127.0.0.1"),
            s.display.end());
  s.client.PassiveAddressFromServer = true;
  EXPECT_FALSE(s.client.Put());
  EXPECT_EQ(s.client.ErrorMessage().rfind("425 Could not open the data connection to 127.0.0.2 port ", 0), 0u)
      << s.client.ErrorMessage();
  EXPECT_TRUE(s.client.Quit());
  EXPECT_EQ(server.Transcript(), (Lines{"USER user", "PASS secret", "PASV", "STOR p.htm", "<data 4 bytes>", "PASV", "QUIT"}));
}

// Control characters of a hostile server's replies never reach the display
// lines or the texts built from them: C0 and C1 (UTF-8 or a lone byte) are
// written out, other text is kept byte for byte.
TEST(FtpSession, ControlCharactersOfRepliesAreWrittenOut) {
  FakeFtpServer server({F::Send("220-\x1b]0;owned\x07title\r\n220 caf\xc3\xa9 \xc2\x9b" "2J \x9b" "31m \xe9t\xe9\r\n"),
                        F::Expect(), F::Send(std::string("530 no\x1b[2J\0\x7f way\r\n", 18))});
  Session s(server.Port());
  EXPECT_FALSE(s.client.Connect());
  const Lines expected{"< 220-\\x1B]0;owned\\x07title", "< 220 caf\xc3\xa9 \\u009B2J \\x9B31m \xe9t\xe9"};
  ASSERT_GE(s.display.size(), 2u);
  EXPECT_EQ(s.display[0], expected[0]);
  EXPECT_EQ(s.display[1], expected[1]);
  EXPECT_EQ(s.client.ErrorMessage(), std::string("530 no\\x1B[2J\\x00\\x7F way"));
  s.client.Abort();
  server.Transcript();
}

}  // namespace
}  // namespace qm::net
