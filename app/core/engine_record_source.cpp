#include "app/core/engine_record_source.h"

#include <QFile>
#include <QFileInfo>

#include <string>
#include <vector>

#include "dbf/char_tables.h"
#include "dbf/errors.h"
#include "dbf/table.h"

namespace qm::catalog {

namespace {
QString FromCp437(const std::string& bytes) {
  return QString::fromStdString(dbf::Cp437ToUtf8(bytes));
}
}  // namespace

// The engine table whose reports end here as RecordSourceError instead of the
// process-wide handler, so a bad table stops only this build. A table that
// cannot be loaded is reported as the product window reports it.
class EngineRecordSource::Table : public dbf::TbrTable {
 public:
  Table(const QString& path, const QString& fullPath)
      : dbf::TbrTable(QFile::encodeName(path).toStdString(), dbf::kOpenSharedReadOnly), m_fullPath(fullPath) {}

  void Error(int32_t code, int32_t subCode, const char* text) override {
    if (code == 0) return;
    if (subCode == dbf::subcode::kTableOpen && code == dbf::code::kFileNotFound)
      throw RecordSourceError(("Cannot find file " + m_fullPath).toStdString());
    const std::string engineText = dbf::BrambleErrorMessage(code, subCode, text);
    if (subCode == dbf::subcode::kTableOpen)
      throw RecordSourceError(("Error getting " + m_fullPath).toStdString() + " (" + engineText + ")");
    throw RecordSourceError(engineText);
  }

 private:
  QString m_fullPath;
};

EngineRecordSource::EngineRecordSource(const QString& tablePath) : m_path(tablePath) {}

EngineRecordSource::~EngineRecordSource() = default;

void EngineRecordSource::Open() {
  if (m_table) return;
  const QString fullPath = QFileInfo(m_path).absoluteFilePath();
  auto table = std::make_unique<Table>(m_path, fullPath);
  if (!table->OpenTable()) throw RecordSourceError(("Error getting " + fullPath).toStdString());
  table->SetReadAhead(true);
  m_memoField = table->FindField("SNOTES");
  m_table = std::move(table);
  m_eof = true;
}

void EngineRecordSource::SkipDeleted(bool moved) {
  while (moved && m_table->Deleted()) moved = m_table->GoTo(dbf::kGoNext);
  m_eof = !moved;
}

void EngineRecordSource::First() {
  Open();
  SkipDeleted(m_table->GoTo(dbf::kGoTop));
}

bool EngineRecordSource::Eof() const { return m_eof; }

void EngineRecordSource::Next() {
  if (!m_eof) SkipDeleted(m_table->GoTo(dbf::kGoNext));
}

int EngineRecordSource::FieldCount() const { return m_table ? m_table->FieldCount() : 0; }

QString EngineRecordSource::FieldText(int position) const {
  if (!m_table || position < 1 || position > m_table->FieldCount())
    throw RecordSourceError(FieldPositionError(position, FieldCount()).toStdString());
  const char type = m_table->FieldType(position);
  if (type != 'M' && type != 'B' && type != 'G') return FromCp437(m_table->Text(position));
  // The plain text of a memo field is only a marker word; its text is in the memo file.
  const uint32_t length = m_table->MemoLength(position);
  std::string bytes(length, '\0');
  bytes.resize(length ? m_table->ReadMemo(position, bytes.data(), length) : 0);
  return FromCp437(bytes);
}

QString EngineRecordSource::MemoText() const {
  if (!m_table || m_memoField == 0)
    throw RecordSourceError(
        MemoFieldMissingError(m_table ? QString::fromStdString(m_table->TableName()) : m_path).toStdString());
  return FieldText(m_memoField);
}

}  // namespace qm::catalog
