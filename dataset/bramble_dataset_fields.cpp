// TBrambleDataSet: reading and writing field values in the record buffers
// through the engine's field accessors.
#include <cmath>

#include "dataset/bramble_alias.h"
#include "dataset/bramble_blob_stream.h"
#include "dataset/bramble_dataset.h"
#include "dataset/bramble_engine.h"
#include "dbf/calendar.h"
#include "dbf/char_tables.h"

namespace qm::dataset {

std::string TBrambleDataSet::FileTextToUtf8(const std::string& fileText) const {
  return m_translate ? dbf::Cp437ToUtf8(fileText) : fileText;
}

std::string TBrambleDataSet::Utf8ToFileText(const std::string& utf8Text) const {
  return m_translate ? dbf::Utf8ToCp437(utf8Text) : utf8Text;
}

char* TBrambleDataSet::GetActiveRecBuf() {
  if (State() == TDataSetState::dsFilter) return m_engine ? m_engine->RecordImage() : nullptr;
  return TDataSet::GetActiveRecBuf();
}

TFieldValue TBrambleDataSet::GetFieldData(const TField& field, const char* buffer) {
  TbrImagePointer point(*m_engine, buffer);
  const int32_t n = field.FieldNo();
  switch (field.DataType()) {
    case TFieldType::ftString: {
      std::string text = m_engine->Text(n);
      if (text.empty()) return {};
      return FileTextToUtf8(text);
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
      return static_cast<int32_t>(std::nearbyint(m_engine->Number(n)));  // halves to even
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      return m_engine->Number(n);
    case TFieldType::ftBoolean:
      return m_engine->Logical(n);
    case TFieldType::ftDate: {
      std::string text = m_engine->RawText(n);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (text.size() != 8) return {};
      const int32_t day = dbf::DayNumber(std::atoi(text.substr(0, 4).c_str()), std::atoi(text.substr(4, 2).c_str()),
                                         std::atoi(text.substr(6, 2).c_str()));
      if (day <= 0 || text.find_first_not_of("0123456789") != std::string::npos) return {};
      return day;
    }
    default:
      return {};  // memo and blob fields are read through their stream
  }
}

void TBrambleDataSet::SetFieldData(TField& field, const TFieldValue& value) {
  const TDataSetState state = State();
  if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert && state != TDataSetState::dsCalcFields &&
      state != TDataSetState::dsFilter)
    throw EDatabaseError("Dataset not in edit or insert mode");
  char* buffer = GetActiveRecBuf();
  if (field.Calculated()) {
    if (buffer != nullptr) PutCalcValue(field, buffer, value);
    return;
  }
  if (state == TDataSetState::dsCalcFields) throw EDatabaseError("Dataset not in edit or insert mode");
  if (field.ReadOnly() && state != TDataSetState::dsFilter)
    throw EDatabaseError("Field '" + field.DisplayName() + "' cannot be modified");
  if (IsBlobType(field.DataType())) {
    // What a stream opened for write and given the text would stage, in one step,
    // so that a refused text leaves the staged memo as it was.
    const std::string* text = std::get_if<std::string>(&value);
    const std::string utf8 = text != nullptr ? *text : std::string();
    StageMemo(field, field.Transliterate() ? Utf8ToFileText(utf8) : utf8);
    return;
  }
  PutDataField(field, buffer, value);
}

namespace {
double NumberOf(const TFieldValue& value) {
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<int32_t>(&value)) return *i;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::string>(&value)) return std::strtod(s->c_str(), nullptr);
  return 0.0;
}
}  // namespace

void TBrambleDataSet::PutDataField(TField& field, char* buffer, const TFieldValue& value) {
  TbrImagePointer point(*m_engine, buffer);
  const int32_t n = field.FieldNo();
  switch (field.DataType()) {
    case TFieldType::ftString: {
      const std::string* text = std::get_if<std::string>(&value);
      m_engine->FieldPut(n, text != nullptr ? Utf8ToFileText(*text) : std::string());
      break;
    }
    case TFieldType::ftBoolean: {
      const bool* b = std::get_if<bool>(&value);
      m_engine->PutLogical(n, b != nullptr ? *b : NumberOf(value) != 0);
      break;
    }
    case TFieldType::ftDate: {
      const int32_t* day = std::get_if<int32_t>(&value);
      if (day != nullptr && *day > 0 && !dbf::StoredDate(*day).empty() && dbf::StoredDate(*day)[0] != ' ')
        m_engine->FieldPut(n, dbf::StoredDate(*day));
      else
        m_engine->FieldPut(n, "        ");
      break;
    }
    default:
      m_engine->PutNumber(n, NumberOf(value));
  }
}

std::unique_ptr<TStream> TBrambleDataSet::CreateBlobStream(TField& field, TBlobAccess mode) {
  return std::make_unique<TBrBlobStream>(field, mode);
}

void TBrambleDataSet::StageMemo(TField& field, std::string fileBytes) {
  // The checks the engine's own memo writes make: staged text meets them here,
  // before anything is written, whoever edits (the window's memo editor, set).
  if (m_engine) {
    const std::string refusal = m_engine->MemoTextRefusal(field.FieldNo(), fileBytes);
    if (!refusal.empty()) throw EDatabaseError(refusal);
  }
  m_stagedMemos[field.FieldNo()] = std::move(fileBytes);
  MarkModified();
  NotifyRecordChanged(&field);
}

}  // namespace qm::dataset
