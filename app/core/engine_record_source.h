#pragma once
// The product table opened afresh through the table engine: records in order
// of entry, deleted records skipped, CP437 text translated to UTF-8, the memo
// text read through the memo accessors (length, then read).
//
// Failures come out as RecordSourceError with the texts users know from the
// product window: "Cannot find file <full path>" for a missing table, "Error
// getting <full path>" for one the engine cannot open, and the engine's own
// "Bramble Error <code>, SubCode <subcode>  <text>" for a failing read.

#include <QString>

#include <memory>

#include "app/core/record_source.h"

namespace qm::catalog {

inline constexpr char kProductTableName[] = "catalog.dbf";

class EngineRecordSource : public RecordSource {
 public:
  // `tablePath` is opened by Open(), not here.
  explicit EngineRecordSource(const QString& tablePath = QString::fromLatin1(kProductTableName));
  ~EngineRecordSource() override;

  void Open() override;
  void First() override;
  bool Eof() const override;
  void Next() override;
  QString FieldText(int position) const override;
  QString MemoText() const override;

  // Number of fields of the open table (the memo field included).
  int FieldCount() const;

 private:
  class Table;
  void SkipDeleted(bool moved);

  QString m_path;
  std::unique_ptr<Table> m_table;
  int m_memoField = 0;  // field number of SNOTES, 0 when there is none
  bool m_eof = true;
};

}  // namespace qm::catalog
