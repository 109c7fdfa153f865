#include "app/core/engine_record_source.h"

#include <QFileInfo>

namespace qm::catalog {

EngineRecordSource::EngineRecordSource(const QString& tablePath, ProductOrder order)
    : m_path(tablePath), m_order(order) {}

EngineRecordSource::EngineRecordSource(dataset::TBrambleDataSet& shared) : m_shared(&shared) {}

EngineRecordSource::~EngineRecordSource() {
  if (m_shared == nullptr || !m_walking) return;
  try {
    if (!m_sharedPosition.empty()) m_shared->GotoBookmark(m_sharedPosition);
  } catch (const std::exception&) {
    // the window shows whatever record the walk left current
  }
  m_shared->EnableControls();
}

// Dataset failures become the record source's error, message unchanged.
template <typename F>
auto EngineRecordSource::Guarded(F f) const -> decltype(f()) {
  try {
    return f();
  } catch (const dataset::EDatabaseError& e) {
    throw RecordSourceError(e.what());
  } catch (const ProductTableError& e) {
    throw RecordSourceError(e.what());
  }
}

dataset::TBrambleDataSet& EngineRecordSource::DataSet() const {
  return m_shared != nullptr ? *m_shared : m_table->DataSet();
}

void EngineRecordSource::Open() {
  if (m_shared != nullptr) {
    if (!m_walking) {
      m_sharedPosition = m_shared->GetBookmark();
      m_shared->DisableControls();
      m_walking = true;
    }
    return;
  }
  if (m_table) return;
  const QFileInfo info(m_path);
  auto table = std::make_unique<ProductTable>(info.path().toStdString(), info.fileName().toStdString());
  Guarded([&] { table->Open(m_order, true); });
  m_table = std::move(table);
}

void EngineRecordSource::First() {
  Open();
  Guarded([this] { DataSet().First(); });
}

bool EngineRecordSource::Eof() const { return DataSet().Eof(); }

void EngineRecordSource::Next() {
  Guarded([this] { DataSet().Next(); });
}

int EngineRecordSource::FieldCount() const {
  return (m_table || m_shared) && DataSet().Active() ? DataSet().FieldCount() : 0;
}

QString EngineRecordSource::FieldText(int position) const {
  if (position < 1 || position > FieldCount())
    throw RecordSourceError(FieldPositionError(position, FieldCount()).toStdString());
  return Guarded([&] { return QString::fromStdString(DataSet().Fields(position - 1).AsString()); });
}

QString EngineRecordSource::MemoText() const {
  dataset::TField* memo = FieldCount() > 0 ? DataSet().FindField(kProductMemoField) : nullptr;
  if (memo == nullptr) {
    // The table's name as the engine names it in its texts: no directory, no extension.
    const QString name = FieldCount() > 0 ? QFileInfo(QString::fromStdString(DataSet().TableName())).completeBaseName()
                                          : m_path;
    throw RecordSourceError(MemoFieldMissingError(name).toStdString());
  }
  return Guarded([&] { return QString::fromStdString(memo->AsString()); });
}

}  // namespace qm::catalog
