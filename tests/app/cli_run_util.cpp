#include "cli_run_util.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace qm::catalog::test {

CliScratch::CliScratch() = default;

QProcessEnvironment CliScratch::Environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", m_config.path());
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.insert("LC_ALL", "C");  // dates in the C locale's order (mm/dd/yyyy), whatever the machine's
  return env;
}

CliResult CliScratch::Run(const QStringList& args, const QString& dir) const {
  QProcess p;
  p.setWorkingDirectory(dir.isEmpty() ? m_work.path() : dir);
  p.setProcessEnvironment(Environment());
  p.start(QM_CLI, args);
  p.waitForFinished(60000);
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

CliResult CliScratch::Shell(const QString& commandLine) const {
  QProcess p;
  p.setWorkingDirectory(m_work.path());
  p.setProcessEnvironment(Environment());
  p.start("/bin/bash", {"-c", commandLine});
  p.waitForFinished(300000);
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QString CliScratch::Path(const QString& name) const {
  return name.isEmpty() ? m_work.path() : m_work.filePath(name);
}

QString CliScratch::ConfigPath(const QString& name) const {
  return name.isEmpty() ? m_config.path() : m_config.filePath(name);
}

QByteArray CliScratch::Read(const QString& name) const {
  QFile f(Path(name));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void CliScratch::Write(const QString& name, const QByteArray& bytes) const {
  QFile f(Path(name));
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

QString CliScratch::BuildDir() { return QFileInfo(QM_CLI).dir().absolutePath() + "/.."; }

}  // namespace qm::catalog::test
