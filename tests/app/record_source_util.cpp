#include "record_source_util.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace qm::catalog::test {

MemoryRecordSource::MemoryRecordSource(std::vector<QStringList> rows, int fieldCount, int memoColumn)
    : m_rows(std::move(rows)), m_fieldCount(fieldCount), m_memoColumn(memoColumn) {}

void MemoryRecordSource::Open() {
  if (failOpen) throw RecordSourceError("Cannot find file /nowhere/catalog.dbf");
}

QString MemoryRecordSource::FieldText(int position) const {
  if (position < 1 || position > m_fieldCount)
    throw RecordSourceError(FieldPositionError(position, m_fieldCount).toStdString());
  return m_rows[m_pos].value(position - 1);
}

QString MemoryRecordSource::MemoText() const {
  if (m_memoColumn < 0) throw RecordSourceError(MemoFieldMissingError("CATALOG").toStdString());
  return m_rows[m_pos].value(m_memoColumn);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

CliResult RunCli(const QString& workDir, const QString& configDir, const QStringList& args) {
  QProcess p;
  p.setWorkingDirectory(workDir);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", configDir);
  p.setProcessEnvironment(env);
  p.start(QM_CLI, args);
  p.waitForFinished(60000);
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QByteArray MaskDate(QByteArray page) {
  static const QRegularExpression line3("^Last Update \\.\\.\\. .*  -->\\r$",
                                        QRegularExpression::MultilineOption);
  QString text = QString::fromUtf8(page);
  text.replace(line3, "Last Update ... DATE  -->\r");
  return text.toUtf8();
}

}  // namespace qm::catalog::test
