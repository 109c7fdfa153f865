#pragma once
// Real FTP daemons on loopback for the publishing tests: pure-ftpd (installed),
// proftpd with its TLS module and vsftpd (unpacked by scripts/ftp-test-servers.sh,
// as their packages conflict with pure-ftpd). Each runs from a temporary folder
// with a configuration of its own and serves "<Root()>/"; the account is
// User()/"secret" (vsftpd: any password). Started() is false where a daemon
// cannot run here (not root, packages not to be had): the tests then skip.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>
#include <string>

namespace qm::net::test {

struct TestCertificate;

class FtpDaemon {
 public:
  virtual ~FtpDaemon();
  bool Started() const;
  int Port() const { return m_port; }
  QString Root() const { return m_dir.filePath("root"); }
  const char* User() const { return m_user; }
  // What the daemon printed, for a test that cannot use it.
  std::string Output() { return m_process.readAll().toStdString(); }

 protected:
  explicit FtpDaemon(const char* user) : m_user(user) {}
  // Runs program with args and waits until the port answers.
  void Run(const QString& program, const QStringList& args, const QStringList& libraryPath = {});
  QString Path(const QString& name) const { return m_dir.filePath(name); }
  bool WriteFile(const QString& name, const QByteArray& text) const;
  static int FreePort();

  QTemporaryDir m_dir;
  QProcess m_process;
  int m_port = 0;
  const char* m_user;
};

// pure-ftpd with one virtual account; extraArgs such as "-Y", "2" (TLS for
// everyone, with the certificate) or "-G" (no renames).
class PureFtpDaemon : public FtpDaemon {
 public:
  PureFtpDaemon(const TestCertificate* certificate, const QStringList& extraArgs);
};

// proftpd in its default configuration plus mod_tls switched on (TLS
// required); implicit: TLS from the first byte instead of AUTH TLS.
class ProFtpDaemon : public FtpDaemon {
 public:
  ProFtpDaemon(const TestCertificate& certificate, bool implicit);
};

// A file the daemon needs outside its folder (vsftpd's PAM service, which PAM
// looks up in /etc/pam.d only), removed again with the object: a test run
// leaves nothing behind in the machine's configuration, however it ends.
class InstalledFile {
 public:
  InstalledFile(const QString& path, const QByteArray& text);
  ~InstalledFile();
  InstalledFile(const InstalledFile&) = delete;
  InstalledFile& operator=(const InstalledFile&) = delete;

 private:
  QString m_path;
  bool m_written = false;
};

// vsftpd with ssl_enable=YES and its other defaults; local account "daemon"
// (any password, through a PAM service of its own) confined to Root().
class VsFtpDaemon : public FtpDaemon {
 public:
  explicit VsFtpDaemon(const TestCertificate& certificate);

 private:
  std::optional<InstalledFile> m_pamService;
};

}  // namespace qm::net::test
