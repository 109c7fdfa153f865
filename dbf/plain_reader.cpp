#include "dbf/plain_reader.h"

#include <cstring>

namespace qm::dbf {

// A table object that keeps the engine's message instead of raising it.
class TbrPlainReader::Table : public TbrTable {
 public:
  Table(const std::string& path, std::string& error)
      : TbrTable(path, kOpenSharedReadOnly), m_error(error) {}
  void Error(int32_t code, int32_t subCode, const char* text) override {
    m_error = BrambleErrorMessage(code, subCode, text);
  }

 private:
  std::string& m_error;
};

TbrPlainReader::TbrPlainReader() = default;
TbrPlainReader::~TbrPlainReader() = default;

bool TbrPlainReader::Open(const std::string& path) {
  Close();
  m_error.clear();
  m_table = std::make_unique<Table>(path, m_error);
  if (m_table->OpenTable()) return true;
  m_table.reset();
  return false;
}

void TbrPlainReader::Close() { m_table.reset(); }

const std::string& TbrPlainReader::ErrorMessage() const { return m_error; }

int32_t TbrPlainReader::RecordCount() const { return m_table ? m_table->RecordCount() : 0; }

int32_t TbrPlainReader::FieldCount() const { return m_table ? m_table->FieldCount() : 0; }

const TbrField& TbrPlainReader::Field(int32_t i) const {
  static const TbrField kNone{};
  return m_table ? m_table->Field(i) : kNone;
}

int32_t TbrPlainReader::FieldIndex(std::string_view name) const {
  return m_table ? m_table->FindField(name) : 0;
}

bool TbrPlainReader::ReadRecord(int32_t r, std::vector<char>& image) {
  if (!m_table || r < 1 || r > m_table->RecordCount()) return false;
  if (!m_table->GoTo(r)) return false;
  image.assign(m_table->RecordImage(), m_table->RecordImage() + m_table->RecordLength());
  return true;
}

std::string_view TbrPlainReader::FieldText(const std::vector<char>& image,
                                           std::string_view name) const {
  const TbrField& field = Field(FieldIndex(name));
  if (field.length == 0 || field.offset + field.length > image.size()) return {};
  std::string_view text(image.data() + field.offset, field.length);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace qm::dbf
