#pragma once
// A table model over a dataset for a QTableView: one column per field, one row
// per record in the dataset's current order (key order while a tag is
// selected). Rows are fetched lazily in batches (canFetchMore/fetchMore) and
// kept as copies of their record buffers, so a view scrolls through 100,000
// records without moving the dataset's cursor. The model follows the cursor:
// CurrentRow() is the current record's row and currentRowChanged() tells when
// it moves (rows are fetched up to the current record when the cursor goes
// past them, as Last does); SetCurrentRow() moves the cursor. Edits from the
// view go through Edit/Post; a refused edit is cancelled and reported by
// errorOccurred(). A posted edit updates its row in place (Reload() shows a
// changed key in its new place); an insert or delete fetches the rows again.
//
// The model attaches itself to the dataset as a data link and must not outlive it.

#include <QAbstractTableModel>

#include <unordered_map>
#include <vector>

#include "index/dataset.h"

namespace qm::gui {

class DataSetTableModel : public QAbstractTableModel, private index::TDataLink {
  Q_OBJECT

 public:
  static constexpr int kFetchBatch = 2000;

  explicit DataSetTableModel(index::TDataSet& dataSet, QObject* parent = nullptr);
  ~DataSetTableModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Row of the current record (-1 when it is not fetched yet or the dataset is empty).
  int CurrentRow() const;
  // Moves the dataset's cursor to the record of `row`; false when refused.
  bool SetCurrentRow(int row);
  // Forgets the fetched rows and starts again from the first record.
  void Reload();
  index::TDataSet& DataSet() const { return m_dataSet; }

 signals:
  void currentRowChanged(int row);
  void errorOccurred(const QString& message);

 private:
  // TDataLink
  void ActiveChanged() override { Reload(); }
  void DataSetChanged() override;
  void RecordChanged(index::TField* field) override;
  void StateChanged() override;
  void Scrolled() override;

  bool InsertRowShown() const;
  void FetchThroughCurrent();
  QString CellText(int row, int column) const;

  index::TDataSet& m_dataSet;
  std::vector<std::vector<char>> m_rows;  // record buffers in view order
  std::vector<index::TBookmark> m_bookmarks;
  std::unordered_map<index::TBookmark, int> m_rowOf;
  bool m_atEnd = false;
  bool m_walking = false;  // the model's own walk: its notifications are not news
  bool m_insertShown = false;
  bool m_postedEdit = false;  // the last state change ended an edit
  index::TDataSetState m_lastState = index::TDataSetState::dsInactive;
};

}  // namespace qm::gui
