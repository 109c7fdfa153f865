#pragma once
// quillmart-cli run as a user runs it: a process in a scratch folder with a
// private settings store, its exit status and both output streams kept.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace qm::catalog::test {

struct CliResult {
  int status;
  QByteArray out;
  QByteArray err;
};

class CliScratch {
 public:
  CliScratch();
  // Runs the companion in the scratch folder (or `dir`).
  CliResult Run(const QStringList& args, const QString& dir = {}) const;
  // Runs a shell command line in the scratch folder with the same environment.
  CliResult Shell(const QString& commandLine) const;
  QString Path(const QString& name = {}) const;
  QString ConfigPath(const QString& name = {}) const;
  QByteArray Read(const QString& name) const;
  void Write(const QString& name, const QByteArray& bytes) const;
  // The build folder the companion was built in.
  static QString BuildDir();

 private:
  QProcessEnvironment Environment() const;
  QTemporaryDir m_work, m_config;
};

}  // namespace qm::catalog::test
