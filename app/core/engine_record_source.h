#pragma once
// The product table as Build Local walks it, through the product dataset:
// either a table this source opens itself (in order of entry, deleted
// products skipped, or in key order through a current CATALOG.NDX), or the
// product window's dataset as that window has it open (its order; the
// window's cursor is put back when the source is destroyed). Texts come as
// UTF-8; a character field's text without its trailing blanks.
//
// Failures come out as RecordSourceError carrying the dataset's message:
// "Cannot find file <full path>" for a missing table, "Error getting <full
// path>" for one that does not open, else the engine's "Bramble Error ..." text.

#include <QString>

#include <memory>

#include "app/core/product_table.h"
#include "app/core/record_source.h"

namespace qm::catalog {

class EngineRecordSource : public RecordSource {
 public:
  // Opens `tablePath` (by Open(), not here) in the given order.
  explicit EngineRecordSource(const QString& tablePath = QString::fromLatin1(kProductTableName),
                              ProductOrder order = ProductOrder::Entry);
  // Walks a dataset that someone else holds open (the product window's).
  explicit EngineRecordSource(dataset::TBrambleDataSet& shared);
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
  dataset::TBrambleDataSet& DataSet() const;
  template <typename F>
  auto Guarded(F f) const -> decltype(f());

  QString m_path;
  ProductOrder m_order = ProductOrder::Entry;
  std::unique_ptr<ProductTable> m_table;      // the table this source opened
  dataset::TBrambleDataSet* m_shared = nullptr;  // or the window's dataset
  dataset::TBookmark m_sharedPosition;
  bool m_walking = false;
};

}  // namespace qm::catalog
