#pragma once
// The product table in key order, as Build Local sees it while the product window
// holds the table open: CATALOG.NDX is rebuilt over the first field (unique, so a
// record repeating an earlier key is left out) and the records are walked through
// it, deleted ones skipped. Texts are translated from CP437 to UTF-8.
//
// Failures come out as RecordSourceError: "Cannot find file <full path>" for a
// missing table, "Error getting <full path>" for one that does not open, else the
// engine's "Bramble Error ..." text (an index that cannot be written among them).

#include <QString>

#include <memory>

#include "app/core/record_source.h"

namespace qm::catalog {

class IndexRecordSource : public RecordSource {
 public:
  explicit IndexRecordSource(const QString& tablePath = QStringLiteral("catalog.dbf"));
  ~IndexRecordSource() override;

  void Open() override;
  void First() override;
  bool Eof() const override;
  void Next() override;
  QString FieldText(int position) const override;
  QString MemoText() const override;

 private:
  class Table;
  QString m_path;
  std::unique_ptr<Table> m_table;
  int m_memoField = 0;
  bool m_eof = true;
};

}  // namespace qm::catalog
