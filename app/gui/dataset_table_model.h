#pragma once
// A table model over a dataset for a QTableView: one column per field, one row
// per record in the dataset's current order (key order while a tag is
// selected). Rows are fetched lazily in batches (canFetchMore/fetchMore) and
// kept as copies of their record buffers with their bookmarks, so a view
// scrolls through 100,000 records without moving the dataset's cursor.
//
// A row stands for a record, never for a position: moving to a row and
// editing a cell go to that row's bookmark and refuse (errorOccurred) when the
// record is no longer there, as when another program deleted it. The model
// follows the cursor: CurrentRow() is the current record's row and
// currentRowChanged() tells when it moves (rows are fetched up to the current
// record when the cursor goes past them, as Last does).
//
// What the rows show afterwards:
// - the cursor moved to a row by the model (SetCurrentRow): that row is read
//   again, nothing else changes;
// - a posted edit that changed the order column (SetOrderColumn), a posted
//   insert, a delete, a refresh or a jump (First, Last): the rows are fetched
//   again, in the order the dataset now has, through the current record (for
//   an edit posted from a cell editor, once the view has closed the editor);
// - any other posted edit: its row is updated in place.
// A new record shows as one extra row at the end until it is posted.
//
// The model attaches itself to the dataset as a data link; either may go first.

#include <QAbstractTableModel>

#include <unordered_map>
#include <vector>

#include "dataset/dataset.h"

namespace qm::gui {

class DataSetTableModel : public QAbstractTableModel, private dataset::TDataLink {
  Q_OBJECT

 public:
  static constexpr int kFetchBatch = 2000;

  explicit DataSetTableModel(dataset::TDataSet& dataSet, QObject* parent = nullptr);
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
  // Moves the dataset's cursor to the record of `row` (posting a pending
  // edit first); false when refused or when that record is gone.
  bool SetCurrentRow(int row);
  // The bookmark of the record a row shows (empty for the new-record row).
  dataset::TBookmark RowBookmark(int row) const;
  // A posted change of this column's value fetches the rows again (-1: none).
  void SetOrderColumn(int column) { m_orderColumn = column; }
  // Forgets the fetched rows and starts again from the first record.
  void Reload();
  dataset::TDataSet& DataSet() const { return m_dataSet; }

 signals:
  void currentRowChanged(int row);
  void errorOccurred(const QString& message);

 private:
  // TDataLink
  void ActiveChanged() override { Reload(); }
  void DataSetChanged() override;
  void RecordChanged(dataset::TField* field) override;
  void StateChanged() override;
  void Scrolled() override;

  bool InsertRowShown() const;
  bool IsInsertRow(int row) const { return m_insertShown && row == static_cast<int>(m_rows.size()); }
  void FetchThroughCurrent();
  void ReloadThroughCurrent();
  void QueueReload();
  bool UpdateCurrentRowInPlace();
  bool GoToRecord(dataset::TBookmark mark);  // a copy: the rows may be fetched again meanwhile
  QString CellText(int row, int column) const;

  dataset::TDataSet& m_dataSet;
  std::vector<std::vector<char>> m_rows;  // record buffers in view order
  std::vector<dataset::TBookmark> m_bookmarks;
  std::unordered_map<dataset::TBookmark, int> m_rowOf;
  int m_orderColumn = -1;
  bool m_atEnd = false;
  bool m_walking = false;  // the model's own walk: its notifications are not news
  bool m_moving = false;   // the model's own move to a row it shows
  bool m_insertShown = false;
  bool m_inSetData = false;     // a view's editor is handing over its text
  bool m_reloadQueued = false;
  dataset::TDataSetState m_endedState = dataset::TDataSetState::dsBrowse;  // what the last change to browse ended
  dataset::TDataSetState m_lastState = dataset::TDataSetState::dsInactive;
};

}  // namespace qm::gui
