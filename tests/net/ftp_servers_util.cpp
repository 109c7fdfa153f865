#include "ftp_servers_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace qm::net::test {

PyFtpServer::PyFtpServer(const QStringList& extraArgs) {
  m_process.setProgram("/usr/bin/python3");
  m_process.setArguments(QStringList{QM_FTP_SERVER_SCRIPT, m_root.path(), "0"} + extraArgs);
  m_process.setProcessChannelMode(QProcess::SeparateChannels);
  // pyftpdlib looks at its own working directory on CWD: never one a test removes.
  m_process.setWorkingDirectory(m_root.path());
  m_process.start();
  if (!m_process.waitForStarted(30000)) return;
  // Python loading pyftpdlib and OpenSSL takes seconds on a loaded machine:
  // the port line is awaited as long as the server lives, within a minute.
  QDeadlineTimer deadline(60000);
  while (!m_process.canReadLine() && m_process.state() == QProcess::Running && !deadline.hasExpired())
    m_process.waitForReadyRead(500);
  const QByteArray line = m_process.readLine().trimmed();
  if (line.startsWith("PORT ")) m_port = line.mid(5).toInt();
}

void PyFtpServer::Kill() {
  m_process.kill();
  m_process.waitForFinished(3000);
}

TestCertificate::TestCertificate() {
  const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
  QProcess req;  // quiet: its progress dots are no test output
  req.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                        "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"});
  req.waitForFinished();
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

PyFtpServer::~PyFtpServer() {
  m_process.terminate();
  if (!m_process.waitForFinished(3000)) m_process.kill();
  m_process.waitForFinished(1000);
}

namespace {

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

// Address of "PORT h1,h2,h3,h4,p1,p2".
sockaddr_in PortAddress(const std::string& command) {
  int h[4] = {}, p[2] = {};
  std::sscanf(command.c_str(), "PORT %d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | uint32_t(h[3]));
  addr.sin_port = htons(static_cast<uint16_t>(p[0] * 256 + p[1]));
  return addr;
}

int ConnectFrom(const char* source, const sockaddr_in& target) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A listening socket on a free port of `address`.
int ListenOn(const std::string& address, int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(fd, 4);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

FakeFtpServer::FakeFtpServer(std::vector<Step> script, std::string address) : m_address(std::move(address)) {
  m_listen = ListenOn(m_address, &m_port);
  m_thread = std::thread([this, script = std::move(script)] { Run(script); });
}

FakeFtpServer::~FakeFtpServer() {
  if (m_thread.joinable()) m_thread.join();
  close(m_listen);
}

void FakeFtpServer::Record(const std::string& entry) {
  std::lock_guard lock(m_mutex);
  m_transcript.push_back(entry);
}

std::vector<std::string> FakeFtpServer::Transcript() {
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard lock(m_mutex);
  return m_transcript;
}

std::string FakeFtpServer::ReceivedData() {
  if (m_thread.joinable()) m_thread.join();
  return m_data;
}

void FakeFtpServer::Run(std::vector<Step> script) {
  if (!WaitReadable(m_listen, 10000)) return;
  int control = accept(m_listen, nullptr, nullptr);
  std::string pending, lastPort;
  int passive = -1;
  for (const Step& step : script) {
    switch (step.kind) {
      case Step::kSend:
        send(control, step.text.data(), step.text.size(), MSG_NOSIGNAL);
        break;
      case Step::kPause:
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.text)));
        break;
      case Step::kClose:
        close(control);
        control = -1;
        break;
      case Step::kExpect: {
        size_t end;
        while ((end = pending.find("\r\n")) == std::string::npos) {
          char buffer[512];
          const ssize_t n = WaitReadable(control, 10000) ? recv(control, buffer, sizeof buffer, 0) : 0;
          if (n <= 0) {
            Record("<closed>");
            close(control);
            return;
          }
          pending.append(buffer, n);
        }
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        if (line.rfind("PORT ", 0) == 0) lastPort = line;
        Record(line);
        break;
      }
      case Step::kPassive: {
        int port = 0;
        passive = ListenOn(m_address, &port);
        const std::string reply = "227 Entering Passive Mode (" + step.text + "," + std::to_string(port / 256) +
                                  "," + std::to_string(port % 256) + ")\r\n";
        send(control, reply.data(), reply.size(), MSG_NOSIGNAL);
        break;
      }
      case Step::kNextControl:
        close(control);
        pending.clear();
        control = WaitReadable(m_listen, 10000) ? accept(m_listen, nullptr, nullptr) : -1;
        Record("<reconnected>");
        break;
      case Step::kReceiveData: {
        int data = -1;
        if (passive >= 0) {
          data = WaitReadable(passive, 10000) ? accept(passive, nullptr, nullptr) : -1;
          close(std::exchange(passive, -1));
        } else {
          data = ConnectFrom(m_address.c_str(), PortAddress(lastPort));
        }
        const size_t limit = step.text.empty() ? std::string::npos : std::stoul(step.text);
        std::string bytes;
        char buffer[4096];
        ssize_t n;
        while (data >= 0 && bytes.size() < limit && WaitReadable(data, 10000) &&
               (n = recv(data, buffer, std::min(sizeof buffer, limit - bytes.size()), 0)) > 0)
          bytes.append(buffer, n);
        if (data >= 0) close(data);
        {
          std::lock_guard lock(m_mutex);
          m_data += bytes;
        }
        Record("<data " + std::to_string(bytes.size()) + " bytes>");
        break;
      }
      case Step::kForeignData: {
        const int data = ConnectFrom("127.0.0.2", PortAddress(lastPort));
        char byte;
        const bool hungUp = data >= 0 && WaitReadable(data, 3000) && recv(data, &byte, 1, 0) <= 0;
        if (data >= 0) close(data);
        Record(hungUp ? "<foreign refused>" : "<foreign kept>");
        break;
      }
      case Step::kHold: {  // what the client sends meanwhile is not looked at
        char ignored[512];
        while (WaitReadable(control, 10000) && recv(control, ignored, sizeof ignored, 0) > 0) {
        }
        break;
      }
    }
    if (control < 0) break;
  }
  // Stay until the client hangs up, so that the script's end is not a close.
  char buffer[512];
  while (control >= 0 && WaitReadable(control, 5000) && recv(control, buffer, sizeof buffer, 0) > 0) {
  }
  if (control >= 0) close(control);
  if (passive >= 0) close(passive);
}

}  // namespace qm::net::test
