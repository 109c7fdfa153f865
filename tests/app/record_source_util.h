#pragma once
// Test helpers: an in-memory record source, a recording build observer and
// file helpers for the generator tests.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

#include "app/core/build_local.h"
#include "app/core/record_source.h"

namespace qm::catalog::test {

// Records as rows of field texts; `memoColumn` (0-based) is the SNOTES field,
// -1 for a table without one.
class MemoryRecordSource : public RecordSource {
 public:
  MemoryRecordSource(std::vector<QStringList> rows, int fieldCount, int memoColumn);
  void Open() override;
  void First() override { m_pos = 0; }
  bool Eof() const override { return m_pos >= m_rows.size(); }
  void Next() override { ++m_pos; }
  QString FieldText(int position) const override;
  QString MemoText() const override;

  bool failOpen = false;  // Open() throws as for a missing table

 private:
  std::vector<QStringList> m_rows;
  int m_fieldCount;
  int m_memoColumn;
  size_t m_pos = 0;
};

struct RecordingObserver : BuildObserver {
  void CatalogCreated() override { events << "catalog"; }
  void PagesStarted(int n) override { events << QStringLiteral("start %1").arg(n); }
  void PageWritten(int done) override { events << QStringLiteral("step %1").arg(done); }
  void PagesCreated() override { events << "stacked"; }
  void PagesAborted() override { events << "aborted"; }
  QStringList events;
};

QByteArray ReadFile(const QString& path);

// quillmart-cli run as a process in `workDir` with its settings in `configDir`.
struct CliResult {
  int status;
  QByteArray out;
  QByteArray err;
};
CliResult RunCli(const QString& workDir, const QString& configDir, const QStringList& args);
// Replaces the text of header line 3 ("Last Update ... {date}  -->") by
// "Last Update ... DATE  -->" so pages compare across days and locales.
QByteArray MaskDate(QByteArray page);

}  // namespace qm::catalog::test
