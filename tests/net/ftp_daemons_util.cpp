#include "ftp_daemons_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include "ftp_servers_util.h"

namespace qm::net::test {

namespace {

// The unpacked proftpd and vsftpd, fetched once per machine; empty when they
// cannot be had.
QString UnpackedServers() {
  static const QString folder = [] {
    QProcess script;
    script.start(QStringLiteral(QM_SOURCE_DIR "/scripts/ftp-test-servers.sh"), {});
    if (!script.waitForFinished(300000) || script.exitCode() != 0) return QString();
    return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
  }();
  return folder;
}

bool Listening(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

void OwnBy(const QString& path, uid_t uid) {
  if (::chown(QFile::encodeName(path).constData(), uid, uid) != 0) return;
}

void OpenToOthers(const QString& folder) {
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

}  // namespace

InstalledFile::InstalledFile(const QString& path, const QByteArray& text) : m_path(path) {
  QSaveFile file(path);  // whole or not at all: PAM reads it on every log-in
  m_written = file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

InstalledFile::~InstalledFile() {
  if (m_written) QFile::remove(m_path);
}

FtpDaemon::~FtpDaemon() {
  m_process.terminate();
  if (!m_process.waitForFinished(3000)) m_process.kill();
  m_process.waitForFinished(1000);
}

bool FtpDaemon::Started() const { return m_port > 0 && m_process.state() == QProcess::Running && Listening(m_port); }

int FtpDaemon::FreePort() {
  // The passive ports follow the control port: it must leave room above it.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    if (ntohs(addr.sin_port) < 60000) return ntohs(addr.sin_port);
  }
  return 0;
}

bool FtpDaemon::WriteFile(const QString& name, const QByteArray& text) const {
  QFile file(Path(name));
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

void FtpDaemon::Run(const QString& program, const QStringList& args, const QStringList& libraryPath) {
  const int port = m_port;
  m_port = 0;
  if (port == 0) return;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (!libraryPath.isEmpty()) env.insert("LD_LIBRARY_PATH", libraryPath.join(':'));
  m_process.setProcessEnvironment(env);
  m_process.setProcessChannelMode(QProcess::MergedChannels);
  m_process.start(program, args);
  if (!m_process.waitForStarted(5000)) return;
  for (int i = 0; i < 100 && !Listening(port); ++i) QThread::msleep(100);
  QThread::msleep(300);  // some listen before they have read their certificate
  m_port = port;
}

PureFtpDaemon::PureFtpDaemon(const TestCertificate* certificate, const QStringList& extraArgs) : FtpDaemon("user") {
  if (getuid() != 0 || !QFile::exists("/usr/sbin/pure-ftpd")) return;  // needs root for its accounts
  const QString passwd = Path("passwd"), db = Path("pure.pdb");
  QDir(m_dir.path()).mkdir("root");
  QProcess pw;
  pw.start("pure-pw", {"useradd", "user", "-u", "nobody", "-g", "nogroup", "-d", Root(), "-f", passwd});
  pw.write("secret\nsecret\n");
  pw.closeWriteChannel();
  pw.waitForFinished();
  QProcess::execute("pure-pw", {"mkdb", db, "-f", passwd});
  QProcess::execute("chown", {"nobody:nogroup", Root()});
  QStringList args = extraArgs;
  if (certificate) {
    QFile::copy(certificate->pem, Path("pure-ftpd.pem"));
    QFile::setPermissions(Path("pure-ftpd.pem"), QFile::ReadOwner | QFile::WriteOwner);
    args << "-2" << Path("pure-ftpd.pem");
  }
  m_port = FreePort();
  const QString passive = QString("%1:%2").arg(m_port + 1).arg(m_port + 20);
  Run("/usr/sbin/pure-ftpd",
      QStringList{"-S", QString("127.0.0.1,%1").arg(m_port), "-l", "puredb:" + db, "-E", "-A", "-j", "-H", "-p", passive} +
          args);
}

ProFtpDaemon::ProFtpDaemon(const TestCertificate& certificate, bool implicit) : FtpDaemon("user") {
  const QString servers = UnpackedServers();
  if (getuid() != 0 || servers.isEmpty()) return;
  QDir(m_dir.path()).mkdir("root");
  OwnBy(Root(), 65534);
  OpenToOthers(m_dir.path());  // the account's home is inside
  QFile::copy(certificate.dir.filePath("cert.pem"), Path("cert.pem"));
  QFile::copy(certificate.dir.filePath("key.pem"), Path("key.pem"));
  QProcess hash;  // the account's password as crypt(3) text
  hash.start("openssl", {"passwd", "-5", "secret"});
  hash.waitForFinished();
  WriteFile("passwd", "user:" + hash.readAllStandardOutput().trimmed() + ":65534:65534::" + Root().toUtf8() + ":/bin/sh\n");
  QFile::setPermissions(Path("passwd"), QFile::ReadOwner | QFile::WriteOwner);
  m_port = FreePort();
  // What Debian's proftpd.conf and tls.conf set, made to run as an unprivileged
  // daemon from this folder; TLS on and required, everything else default.
  QByteArray conf = "ServerType standalone\nDefaultServer on\nPort " + QByteArray::number(m_port) +
                    "\nDefaultAddress 127.0.0.1\nSocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\n"
                    "PidFile " + Path("proftpd.pid").toUtf8() + "\nScoreboardFile " + Path("scoreboard").toUtf8() +
                    "\nDelayTable none\nWtmpLog off\nTransferLog none\nUseReverseDNS off\n"
                    "AuthOrder mod_auth_file.c\nAuthUserFile " + Path("passwd").toUtf8() +
                    "\nRequireValidShell off\nDefaultRoot ~\n"
                    "ModulePath " + servers.toUtf8() + "/usr/lib/proftpd\nLoadModule mod_tls.c\n"
                    "TLSEngine on\nTLSRequired on\nTLSLog " + Path("tls.log").toUtf8() +
                    "\nTLSECCertificateFile " + Path("cert.pem").toUtf8() +
                    "\nTLSECCertificateKeyFile " + Path("key.pem").toUtf8() + "\n";
  if (implicit) conf += "TLSOptions UseImplicitSSL\n";
  WriteFile("proftpd.conf", conf);
  Run(servers + "/usr/sbin/proftpd", {"-n", "-q", "-c", Path("proftpd.conf")},
      {servers + "/usr/lib/x86_64-linux-gnu"});
}

VsFtpDaemon::VsFtpDaemon(const TestCertificate& certificate) : FtpDaemon("daemon") {
  const QString servers = UnpackedServers();
  if (getuid() != 0 || servers.isEmpty()) return;
  // A PAM service of its own that lets the account in with any password, so
  // no password of the machine is involved.
  const QString service = QStringLiteral("qm-vsftpd-test");
  m_pamService.emplace("/etc/pam.d/" + service,
                       "auth required pam_permit.so\naccount required pam_permit.so\nsession required pam_permit.so\n");
  QDir(m_dir.path()).mkpath("root/shop");  // vsftpd refuses a writable root inside its confinement
  QDir(m_dir.path()).mkdir("empty");
  OwnBy(Root() + "/shop", 1);
  OpenToOthers(m_dir.path());
  QFile::copy(certificate.dir.filePath("cert.pem"), Path("cert.pem"));
  QFile::copy(certificate.dir.filePath("key.pem"), Path("key.pem"));
  m_port = FreePort();
  const QByteArray conf = "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + QByteArray::number(m_port) +
                          "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                          "pam_service_name=" + service.toUtf8() + "\ncheck_shell=NO\nlocal_root=" + Root().toUtf8() +
                          "\nchroot_local_user=YES\nsecure_chroot_dir=" + Path("empty").toUtf8() +
                          "\nseccomp_sandbox=NO\npasv_min_port=" + QByteArray::number(m_port + 1) +
                          "\npasv_max_port=" + QByteArray::number(m_port + 40) + "\nssl_enable=YES\nrsa_cert_file=" +
                          Path("cert.pem").toUtf8() + "\nrsa_private_key_file=" + Path("key.pem").toUtf8() + "\n";
  WriteFile("vsftpd.conf", conf);
  Run(servers + "/usr/sbin/vsftpd", {Path("vsftpd.conf")});
}

}  // namespace qm::net::test
