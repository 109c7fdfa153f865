#pragma once
// FTP servers for the network tests.
//
// PyFtpServer: pyftpdlib on 127.0.0.1 with a temporary root, accounts
// "user"/"secret" and "nopass" (logged in by USER alone).
// FakeFtpServer: a scripted server on its own thread. It plays its script
// against one control connection and records every command line it received,
// so a test can compare the client's exact transcript.

#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::net::test {

class PyFtpServer {
 public:
  // extraArgs: the options of ftp_server.py (--passive-only, --throttle N, --log FILE, --tls CERT).
  explicit PyFtpServer(const QStringList& extraArgs = {});
  ~PyFtpServer();
  bool Started() const { return m_port > 0; }
  int Port() const { return m_port; }
  std::string Root() const { return m_root.path().toStdString(); }
  // Ends the server at once, as a crash or a dropped line would.
  void Kill();

 private:
  QTemporaryDir m_root;
  QProcess m_process;
  int m_port = 0;
};

// A self-signed certificate for 127.0.0.1 made by openssl, with its key in
// one PEM file for pyftpdlib's --tls.
struct TestCertificate {
  QTemporaryDir dir;
  QString pem;
  std::string fingerprint;  // SHA-256, AA:BB:...
  TestCertificate();
};

class FakeFtpServer {
 public:
  struct Step {
    enum Kind { kSend, kExpect, kPause, kClose, kReceiveData, kForeignData, kHold, kPassive, kNextControl } kind;
    std::string text;  // kSend: bytes; kPause: milliseconds
  };
  static Step Send(std::string bytes) { return {Step::kSend, std::move(bytes)}; }
  static Step Expect() { return {Step::kExpect, {}}; }  // one command line
  static Step Pause(int ms) { return {Step::kPause, std::to_string(ms)}; }
  static Step CloseControl() { return {Step::kClose, {}}; }
  // Connects to the address of the last PORT command and reads to the end.
  static Step ReceiveData() { return {Step::kReceiveData, {}}; }
  // The same, but hangs up after `bytes` bytes, as a server cutting a store short.
  static Step ReceiveDataCut(int bytes) { return {Step::kReceiveData, std::to_string(bytes)}; }
  // Connects from 127.0.0.2 and records whether the client hung up at once.
  static Step ForeignData() { return {Step::kForeignData, {}}; }
  // Keeps the connection open, silent, until the client closes it.
  static Step Hold() { return {Step::kHold, {}}; }
  // Listens for a data connection and answers "227 Entering Passive Mode
  // (<hostTuple>,p1,p2)" naming that port; the next ReceiveData accepts it.
  static Step Passive(std::string hostTuple) { return {Step::kPassive, std::move(hostTuple)}; }
  // Drops the control connection and takes the client's next one.
  static Step NextControl() { return {Step::kNextControl, {}}; }

  // Listens on address (a loopback one); data connections come from it too.
  explicit FakeFtpServer(std::vector<Step> script, std::string address = "127.0.0.1");
  ~FakeFtpServer();
  int Port() const { return m_port; }
  // Waits for the script to end (at most a few seconds) and returns what the
  // client sent: one entry per command line, plus "<data N bytes>" entries
  // and "<foreign refused>" when a foreign data connection was dropped.
  std::vector<std::string> Transcript();
  std::string ReceivedData();

 private:
  void Run(std::vector<Step> script);
  void Record(const std::string& entry);

  std::string m_address;
  int m_listen = -1;
  int m_port = 0;
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<std::string> m_transcript;
  std::string m_data;
};

}  // namespace qm::net::test
