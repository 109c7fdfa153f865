#include "app/gui/dataset_table_model.h"

#include <QScopeGuard>

#include <utility>

namespace qm::gui {

using dataset::TDataSetState;

DataSetTableModel::DataSetTableModel(dataset::TDataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent), m_dataSet(dataSet) {
  m_dataSet.AddDataLink(this);
}

DataSetTableModel::~DataSetTableModel() = default;  // the link detaches itself

bool DataSetTableModel::InsertRowShown() const {
  return m_dataSet.State() == TDataSetState::dsInsert;
}

int DataSetTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(m_rows.size()) + (m_insertShown ? 1 : 0);
}

int DataSetTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_dataSet.Active() ? 0 : m_dataSet.FieldCount();
}

QString DataSetTableModel::CellText(int row, int column) const {
  dataset::TField& field = m_dataSet.Fields(column);
  const bool live = (m_insertShown && row == static_cast<int>(m_rows.size())) ||
                    (m_dataSet.State() == TDataSetState::dsEdit && row == CurrentRow());
  if (dataset::IsBlobType(field.DataType())) return QStringLiteral("(MEMO)");
  if (live) return QString::fromStdString(field.AsString());
  auto& dataSet = const_cast<dataset::TDataSet&>(m_dataSet);
  return QString::fromStdString(dataset::ValueText(field.DataType(), dataSet.FieldValueIn(field, m_rows[row])));
}

QVariant DataSetTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  try {
    return CellText(index.row(), index.column());
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  }
}

QVariant DataSetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= columnCount()) return {};
  return QString::fromStdString(m_dataSet.Fields(section).FieldName());
}

Qt::ItemFlags DataSetTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (!index.isValid() || index.column() >= columnCount()) return f;
  dataset::TField& field = m_dataSet.Fields(index.column());
  if (!field.ReadOnly() && !dataset::IsBlobType(field.DataType()) && m_dataSet.CanModify()) f |= Qt::ItemIsEditable;
  return f;
}

bool DataSetTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.column() >= columnCount()) return false;
  // A refused value undoes only the edit this cell started: a new record or an
  // edit the user began elsewhere keeps the other values already typed.
  bool startedEdit = false;
  m_inSetData = true;
  const auto done = qScopeGuard([this] { m_inSetData = false; });
  try {
    if (IsInsertRow(index.row())) {
      if (!InsertRowShown()) return false;
    } else {
      if (index.row() >= static_cast<int>(m_rows.size())) return false;
      // The cell's own record, wherever the rows stand by now.
      const dataset::TBookmark target = m_bookmarks[index.row()];
      if ((m_dataSet.GetBookmark() != target || InsertRowShown()) && !GoToRecord(target)) return false;
    }
    if (m_dataSet.State() == TDataSetState::dsBrowse) {
      m_dataSet.Edit();
      startedEdit = true;
    }
    m_dataSet.Fields(index.column()).SetAsString(value.toString().toStdString());
    if (startedEdit) m_dataSet.Post();
    return true;
  } catch (const std::exception& e) {
    if (startedEdit) {
      try {
        m_dataSet.Cancel();
      } catch (const std::exception&) {
        // The first failure is the one the user needs to see.
      }
    }
    emit errorOccurred(QString::fromUtf8(e.what()));
    return false;
  }
}

bool DataSetTableModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && m_dataSet.Active() && !m_atEnd && m_dataSet.State() == TDataSetState::dsBrowse;
}

// Walks on from the last fetched record and puts the cursor back afterwards.
void DataSetTableModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  std::vector<std::vector<char>> rows;
  std::vector<dataset::TBookmark> marks;
  m_walking = true;
  m_dataSet.DisableControls();
  const dataset::TBookmark saved = m_dataSet.GetBookmark();
  try {
    if (m_bookmarks.empty()) {
      m_dataSet.First();
    } else {
      m_dataSet.GotoBookmark(m_bookmarks.back());
      m_dataSet.Next();
    }
    while (!m_dataSet.Eof() && static_cast<int>(rows.size()) < kFetchBatch) {
      // The last row's record may be gone (another program deleted it): the
      // walk then resumes from a neighbour and steps over rows already shown.
      if (m_rowOf.count(m_dataSet.GetBookmark()) == 0) {
        rows.push_back(m_dataSet.ActiveBufferCopy());
        marks.push_back(m_dataSet.GetBookmark());
      }
      m_dataSet.Next();
    }
    m_atEnd = m_dataSet.Eof();
    if (!saved.empty()) m_dataSet.GotoBookmark(saved);
  } catch (const std::exception& e) {
    m_atEnd = true;
    emit errorOccurred(QString::fromUtf8(e.what()));
  }
  m_dataSet.EnableControls();
  m_walking = false;
  if (rows.empty()) return;
  const int first = static_cast<int>(m_rows.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  for (size_t i = 0; i < rows.size(); ++i) {
    m_rowOf[marks[i]] = first + static_cast<int>(i);
    m_rows.push_back(std::move(rows[i]));
    m_bookmarks.push_back(std::move(marks[i]));
  }
  endInsertRows();
}

int DataSetTableModel::CurrentRow() const {
  if (m_insertShown) return static_cast<int>(m_rows.size());
  const dataset::TBookmark mark = const_cast<dataset::TDataSet&>(m_dataSet).GetBookmark();
  const auto it = m_rowOf.find(mark);
  return it == m_rowOf.end() ? -1 : it->second;
}

dataset::TBookmark DataSetTableModel::RowBookmark(int row) const {
  return row >= 0 && row < static_cast<int>(m_bookmarks.size()) ? m_bookmarks[row] : dataset::TBookmark();
}

bool DataSetTableModel::SetCurrentRow(int row) {
  if (row < 0 || row >= static_cast<int>(m_rows.size())) return false;
  if (!InsertRowShown() && m_dataSet.GetBookmark() == m_bookmarks[row]) return true;
  return GoToRecord(m_bookmarks[row]);
}

// Posting a pending edit on the way may fetch the rows again; the target is
// the record, so that does not change where the cursor goes.
bool DataSetTableModel::GoToRecord(dataset::TBookmark mark) {
  try {
    m_moving = true;
    m_dataSet.GotoBookmark(mark);
    m_moving = false;
  } catch (const std::exception& e) {
    m_moving = false;
    emit errorOccurred(QString::fromUtf8(e.what()));
    emit currentRowChanged(CurrentRow());
    return false;
  }
  if (m_dataSet.GetBookmark() != mark) {  // the dataset stepped to a neighbour
    ReloadThroughCurrent();
    emit currentRowChanged(CurrentRow());
    emit errorOccurred(tr("That record is no longer in the table: another program deleted it or changed it "
                          "so that it is not listed. The list now shows the table as it is."));
    return false;
  }
  FetchThroughCurrent();
  emit currentRowChanged(CurrentRow());
  return true;
}

void DataSetTableModel::Reload() {
  beginResetModel();
  m_rows.clear();
  m_bookmarks.clear();
  m_rowOf.clear();
  m_atEnd = !m_dataSet.Active();
  m_insertShown = m_dataSet.Active() && InsertRowShown();
  m_endedState = TDataSetState::dsBrowse;
  endResetModel();
}

void DataSetTableModel::QueueReload() {
  if (m_reloadQueued) return;
  m_reloadQueued = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_reloadQueued = false;
        ReloadThroughCurrent();
        emit currentRowChanged(CurrentRow());
      },
      Qt::QueuedConnection);
}

void DataSetTableModel::ReloadThroughCurrent() {
  Reload();
  FetchThroughCurrent();
}

void DataSetTableModel::FetchThroughCurrent() {
  const dataset::TBookmark current = m_dataSet.GetBookmark();
  while (!current.empty() && m_rowOf.count(current) == 0 && canFetchMore({})) fetchMore({});
}

// The current record read again into its row; false when it has no row.
bool DataSetTableModel::UpdateCurrentRowInPlace() {
  const auto it = m_rowOf.find(m_dataSet.GetBookmark());
  if (it == m_rowOf.end()) return false;
  m_rows[it->second] = m_dataSet.ActiveBufferCopy();
  emit dataChanged(index(it->second, 0), index(it->second, columnCount() - 1));
  return true;
}

void DataSetTableModel::Scrolled() {
  if (CurrentRow() < 0) FetchThroughCurrent();
  emit currentRowChanged(CurrentRow());
}

void DataSetTableModel::DataSetChanged() {
  if (m_walking) return;
  const TDataSetState ended = std::exchange(m_endedState, TDataSetState::dsBrowse);
  if (InsertRowShown()) {
    if (!m_insertShown) {  // inserting shows one row more at the end
      beginInsertRows({}, static_cast<int>(m_rows.size()), static_cast<int>(m_rows.size()));
      m_insertShown = true;
      endInsertRows();
    }
  } else if (m_insertShown) {
    const dataset::TBookmark current = m_dataSet.GetBookmark();
    if (current.empty() || m_rowOf.count(current) != 0) {  // cancelled: back to a record shown
      beginRemoveRows({}, static_cast<int>(m_rows.size()), static_cast<int>(m_rows.size()));
      m_insertShown = false;
      endRemoveRows();
      UpdateCurrentRowInPlace();
    } else {  // posted: the new record takes its place in the order
      m_insertShown = false;
      ReloadThroughCurrent();
    }
  } else if (ended == TDataSetState::dsEdit) {
    const int row = CurrentRow();
    bool reorder = row < 0;
    if (!reorder && m_orderColumn >= 0 && m_orderColumn < columnCount()) {
      const dataset::TField& field = m_dataSet.Fields(m_orderColumn);
      reorder = m_dataSet.FieldValueIn(field, m_rows[row]) != m_dataSet.FieldValueIn(field, m_dataSet.ActiveBufferCopy());
    }
    if (reorder && m_inSetData && UpdateCurrentRowInPlace()) {
      // The view is still committing its editor: the rows are fetched again
      // once it has done so (they stand for records, so nothing is
      // misdirected meanwhile).
      QueueReload();
    } else if (reorder || !UpdateCurrentRowInPlace()) {
      ReloadThroughCurrent();
    }
  } else if (!m_moving || !UpdateCurrentRowInPlace()) {
    ReloadThroughCurrent();  // records may have come or gone anywhere
  }
  emit currentRowChanged(CurrentRow());
}

void DataSetTableModel::RecordChanged(dataset::TField*) {
  const int row = CurrentRow();
  if (row >= 0 && row < rowCount()) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void DataSetTableModel::StateChanged() {
  if (m_walking) return;
  const dataset::TDataSetState state = m_dataSet.State();
  if (state == TDataSetState::dsBrowse &&
      (m_lastState == TDataSetState::dsEdit || m_lastState == TDataSetState::dsInsert))
    m_endedState = m_lastState;
  m_lastState = state;
  RecordChanged(nullptr);
}

}  // namespace qm::gui
