// The FTP client against a real server: pyftpdlib on loopback, started here.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <random>
#include <sstream>

#include "ftp_servers_util.h"
#include "net/ftp_sync_client.h"

namespace qm::net {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class RealServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_server.Started()) << "pyftpdlib did not start";
    client.HostName = "127.0.0.1";
    client.Port = std::to_string(m_server.Port());
    client.UserName = "user";
    client.PassWord = "secret";
    client.Timeout = 10;
  }
  std::string Local(const std::string& name, const std::string& bytes) {
    const std::string path = m_local.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string Remote(const std::string& name) { return m_server.Root() + "/" + name; }
  bool Put(const std::string& local, const std::string& remote) {
    client.LocalFileName = local;
    client.HostFileName = remote;
    return client.Put();
  }

  test::PyFtpServer m_server;
  QTemporaryDir m_local;
  TFtpClient client;
};

TEST_F(RealServer, LoginWithUserAndPassword) {
  std::vector<std::string> commands;
  client.OnCommand = [&](TCustomFtpClient&, std::string& cmd) { commands.push_back(cmd.substr(0, 4)); };
  EXPECT_TRUE(client.Connect());
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(client.ReplyCode, 230);
  EXPECT_TRUE(client.Quit());
  EXPECT_EQ(client.ReplyCode, 221);
  EXPECT_EQ(client.State(), fcsReady);
  EXPECT_EQ(commands, (std::vector<std::string>{"USER", "PASS", "QUIT"}));
}

TEST_F(RealServer, UserAnswered230SkipsPass) {
  client.UserName = "nopass";
  std::vector<std::string> commands;
  client.OnCommand = [&](TCustomFtpClient&, std::string& cmd) { commands.push_back(cmd.substr(0, 4)); };
  EXPECT_TRUE(client.Connect());
  EXPECT_EQ(commands, (std::vector<std::string>{"USER"}));
  EXPECT_TRUE(client.Quit());
}

TEST_F(RealServer, RefusedPasswordFailsConnectWith530) {
  client.PassWord = "wrong";
  EXPECT_FALSE(client.Connect());
  EXPECT_EQ(client.FailureCode, 530);
  EXPECT_EQ(client.ErrorMessage().rfind("530 ", 0), 0u) << client.ErrorMessage();
}

TEST_F(RealServer, UploadsEmptyAndBinaryFilesByteForByte) {
  std::mt19937 random(42);
  std::string binary(1 << 20, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  binary[100] = '\r';  // bytes that a text-mode transfer would mangle
  binary[101] = '\n';
  binary[500] = '\n';
  ASSERT_TRUE(client.Connect());
  client.SetBinary(true);  // the server starts in ASCII mode, which rewrites line ends
  ASSERT_TRUE(client.TypeSet());
  EXPECT_TRUE(Put(Local("empty.htm", ""), "empty.htm"));
  EXPECT_EQ(client.TransferCount, 0);
  EXPECT_TRUE(Put(Local("big.bin", binary), "big.bin"));
  EXPECT_EQ(client.TransferCount, 1 << 20);
  EXPECT_TRUE(client.Quit());
  EXPECT_EQ(ReadAll(Remote("empty.htm")), "");
  EXPECT_TRUE(ReadAll(Remote("big.bin")) == binary);
}

TEST_F(RealServer, RefusedStorFailsThatPutOnly) {
  ASSERT_TRUE(client.Connect());
  EXPECT_FALSE(Put(Local("a.htm", "a"), "no-such-dir/a.htm"));
  EXPECT_EQ(client.FailureCode, 550);
  EXPECT_EQ(client.ErrorMessage().rfind("550 ", 0), 0u);
  EXPECT_EQ(client.DataSocket().State(), wsClosed);  // the listener is gone
  EXPECT_TRUE(Put(Local("b.htm", "b"), "b.htm"));
  EXPECT_EQ(client.ErrorMessage(), "");
  EXPECT_TRUE(client.Quit());
  EXPECT_EQ(ReadAll(Remote("b.htm")), "b");
}

TEST_F(RealServer, MissingLocalFileGives426AndSessionStaysUsable) {
  ASSERT_TRUE(client.Connect());
  EXPECT_FALSE(Put(m_local.filePath("missing.htm").toStdString(), "missing.htm"));
  EXPECT_EQ(client.FailureCode, 426);
  EXPECT_EQ(client.ErrorMessage(), "426 Unable to open local file " + client.LocalFileName);
  EXPECT_TRUE(Put(Local("c.htm", "c"), "c.htm"));
  EXPECT_TRUE(client.Quit());
  EXPECT_EQ(ReadAll(Remote("c.htm")), "c");
}

TEST_F(RealServer, ExclusiveShareModeRefusesAFileLockedElsewhere) {
  ASSERT_TRUE(client.Connect());
  const std::string path = Local("locked.htm", "x");
  TLocalFile holder;
  ASSERT_TRUE(holder.OpenForRead(path, TLocalFile::kShareExclusive, 0));
  EXPECT_FALSE(Put(path, "locked.htm"));
  EXPECT_EQ(client.ErrorMessage(), "426 Unable to open local file " + path);
  client.SetShareMode(ftpShareDenyNone);
  EXPECT_TRUE(Put(path, "locked.htm"));
  EXPECT_TRUE(client.Quit());
}

TEST_F(RealServer, RetrieveAndListWhatWasStored) {
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(Put(Local("page.htm", "<p>page</p>\r\n"), "page.htm"));
  client.HostFileName = "page.htm";
  client.LocalFileName = m_local.filePath("back.htm").toStdString();
  EXPECT_TRUE(client.Get());
  EXPECT_EQ(ReadAll(client.LocalFileName), "<p>page</p>\r\n");
  client.HostFileName.clear();
  client.LocalFileName = m_local.filePath("names.txt").toStdString();
  EXPECT_TRUE(client.Ls());
  EXPECT_NE(ReadAll(client.LocalFileName).find("page.htm"), std::string::npos);
  EXPECT_TRUE(client.Quit());
}

// A whole session in one request: Open, USER, PASS, CWD, TYPE, PORT, STOR, QUIT.
TEST_F(RealServer, SessionRequestReportsTheReplyBeforeQuitAndQuitsAfterAFailure) {
  QDir(QString::fromStdString(m_server.Root())).mkdir("site");
  std::vector<std::string> commands;
  client.OnCommand = [&](TCustomFtpClient&, std::string& cmd) { commands.push_back(cmd.substr(0, 4)); };
  client.HostDirName = "site";
  client.LocalFileName = Local("s.htm", "session");
  client.HostFileName = "s.htm";
  EXPECT_TRUE(client.Transmit());
  EXPECT_EQ(client.ReplyCode, 226);  // the reply before QUIT
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(ReadAll(Remote("site/s.htm")), "session");
  EXPECT_EQ(commands, (std::vector<std::string>{"USER", "PASS", "CWD ", "TYPE", "PORT", "STOR", "QUIT"}));

  commands.clear();
  client.HostDirName = "no-such-dir";
  EXPECT_FALSE(client.Transmit());
  EXPECT_EQ(client.FailureCode, 550);
  EXPECT_EQ(client.ErrorMessage().rfind("550 ", 0), 0u);
  EXPECT_EQ(commands, (std::vector<std::string>{"USER", "PASS", "CWD ", "QUIT"}));
}

TEST_F(RealServer, AppendAddsToTheRemoteFile) {
  ASSERT_TRUE(client.Connect());
  client.SetBinary(true);
  ASSERT_TRUE(client.TypeSet());
  ASSERT_TRUE(Put(Local("log.txt", "one\n"), "log.txt"));
  client.LocalFileName = Local("more.txt", "two\n");
  EXPECT_TRUE(client.Append());
  EXPECT_EQ(client.RequestType(), frqAppe);
  EXPECT_TRUE(client.Quit());
  EXPECT_EQ(ReadAll(Remote("log.txt")), "one\ntwo\n");
}

TEST_F(RealServer, RestartedRetrieveCompletesAPartialFile) {
  std::ofstream(Remote("full.bin"), std::ios::binary) << "abcdefghij";
  ASSERT_TRUE(client.Connect());
  client.SetBinary(true);
  ASSERT_TRUE(client.TypeSet());
  client.HostFileName = "full.bin";
  client.LocalFileName = Local("part.bin", "abcd");
  EXPECT_TRUE(client.RestGet());
  EXPECT_EQ(client.TransferCount, 6);  // only what was missing came over
  EXPECT_EQ(client.ResumeAt, 0);
  EXPECT_EQ(ReadAll(client.LocalFileName), "abcdefghij");
  EXPECT_TRUE(client.Quit());
}

}  // namespace
}  // namespace qm::net
