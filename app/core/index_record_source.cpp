#include "app/core/index_record_source.h"

#include <QFile>
#include <QFileInfo>

#include "dbf/char_tables.h"
#include "dbf/errors.h"
#include "index/catalog_index.h"

namespace qm::catalog {

// The ordered table whose reports end as RecordSourceError, so a bad table or
// index stops only this build.
class IndexRecordSource::Table : public index::TbrIndexTable {
 public:
  Table(const QString& path, const QString& fullPath)
      : TbrIndexTable(QFile::encodeName(path).toStdString(), dbf::kOpenSharedReadWrite),
        m_fullPath(fullPath) {}

  void Error(int32_t code, int32_t subCode, const char* text) override {
    if (code == 0) return;
    if (subCode == dbf::subcode::kTableOpen && code == dbf::code::kFileNotFound)
      throw RecordSourceError(("Cannot find file " + m_fullPath).toStdString());
    if (subCode == dbf::subcode::kTableOpen)
      throw RecordSourceError(("Error getting " + m_fullPath).toStdString());
    throw RecordSourceError(dbf::BrambleErrorMessage(code, subCode, text));
  }

 private:
  QString m_fullPath;
};

IndexRecordSource::IndexRecordSource(const QString& tablePath) : m_path(tablePath) {}

IndexRecordSource::~IndexRecordSource() = default;

void IndexRecordSource::Open() {
  if (m_table) return;
  const QString fullPath = QFileInfo(m_path).absoluteFilePath();
  auto table = std::make_unique<Table>(m_path, fullPath);
  if (!table->OpenTable()) throw RecordSourceError(("Error getting " + fullPath).toStdString());
  if (!index::RebuildCatalogIndex(*table))
    throw RecordSourceError(("Error getting " + fullPath).toStdString());
  m_memoField = table->FindField("SNOTES");
  m_table = std::move(table);
}

void IndexRecordSource::First() {
  Open();
  m_eof = !m_table->GoTo(dbf::kGoTop);
}

bool IndexRecordSource::Eof() const { return m_eof; }

void IndexRecordSource::Next() {
  if (!m_eof) m_eof = !m_table->GoTo(dbf::kGoNext);
}

QString IndexRecordSource::FieldText(int position) const {
  if (!m_table || position < 1 || position > m_table->FieldCount())
    throw RecordSourceError(
        FieldPositionError(position, m_table ? m_table->FieldCount() : 0).toStdString());
  const char type = m_table->FieldType(position);
  std::string bytes = type == 'M' ? m_table->MemoText(position) : m_table->Text(position);
  return QString::fromStdString(dbf::Cp437ToUtf8(bytes));
}

QString IndexRecordSource::MemoText() const {
  if (!m_table || m_memoField == 0)
    throw RecordSourceError(MemoFieldMissingError(m_path).toStdString());
  return FieldText(m_memoField);
}

}  // namespace qm::catalog
