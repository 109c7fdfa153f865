// The generic dataset's field objects, calculated fields, streams and links
// to data-aware controls.
#include <algorithm>
#include <cstring>

#include "dataset/dataset.h"
#include "dbf/scope_exit.h"
#include "dbf/text_helpers.h"

namespace qm::dataset {

int32_t TStream::Size() {
  const int32_t here = Seek(0, TSeekFrom::sfPosition);
  const int32_t size = Seek(0, TSeekFrom::sfEnd);
  Seek(here, TSeekFrom::sfStart);
  return size;
}

std::string TStream::ReadAll() {
  std::string text(static_cast<size_t>(std::max<int32_t>(0, Size())), '\0');
  Seek(0, TSeekFrom::sfStart);
  text.resize(static_cast<size_t>(Read(text.data(), static_cast<int32_t>(text.size()))));
  return text;
}

void TDataSet::CreateFields() {
  m_fields.clear();
  for (const TFieldDef& def : m_fieldDefs) {
    if (def.dataType == TFieldType::ftUnknown) continue;
    m_fields.push_back(std::make_unique<TField>(*this, def, TFieldKind::fkData));
  }
  m_calcFieldsSize = 0;
  for (const std::unique_ptr<TField>& calc : m_calcFields) {
    calc->SetCalcOffset(m_calcFieldsSize);
    m_calcFieldsSize += 1 + calc->DataSize();
  }
}

void TDataSet::DestroyFields() { m_fields.clear(); }

TField* TDataSet::FindField(const std::string& name) {
  for (const std::unique_ptr<TField>& f : m_fields)
    if (dbf::SameTextIgnoringCase(f->FieldName(), name)) return f.get();
  for (const std::unique_ptr<TField>& f : m_calcFields)
    if (dbf::SameTextIgnoringCase(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) {
  TField* field = FindField(name);
  if (field == nullptr) throw EDatabaseError("Field '" + name + "' not found");
  return *field;
}

TField& TDataSet::AddCalculatedField(const std::string& name, TFieldType type, int size) {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
  TFieldDef def{0, name, type, size, false};
  m_calcFields.push_back(std::make_unique<TField>(*this, def, TFieldKind::fkCalculated));
  return *m_calcFields.back();
}

char* TDataSet::GetActiveRecBuf() {
  switch (m_state) {
    case TDataSetState::dsBrowse:
      return m_empty ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      return ActiveBuffer();
    case TDataSetState::dsCalcFields:
      return m_calcBuffer;
    default:
      return nullptr;
  }
}

TFieldValue TDataSet::GetFieldValue(const TField& field) {
  const char* buffer = GetActiveRecBuf();
  if (buffer == nullptr) return {};
  if (field.Calculated()) return GetCalcValue(field, buffer);
  return GetFieldData(field, buffer);
}

TFieldValue TDataSet::FieldValueIn(const TField& field, const std::vector<char>& buffer) {
  if (buffer.empty()) return {};
  if (field.Calculated()) return GetCalcValue(field, buffer.data());
  return GetFieldData(field, buffer.data());
}

void TDataSet::SetFieldValue(TField& field, const TFieldValue& value) {
  SetFieldData(field, value);
  if (m_state == TDataSetState::dsCalcFields || m_state == TDataSetState::dsFilter) return;
  m_modified = true;
  if (field.OnChange) field.OnChange(field);
  NotifyRecordChanged(&field);
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField& field, TBlobAccess) {
  throw EDatabaseError("Field '" + field.DisplayName() + "' is not a blob field");
}

// Slot layout: one has-value byte, then the value in the type's data size.
TFieldValue TDataSet::GetCalcValue(const TField& field, const char* buffer) const {
  const char* slot = buffer + const_cast<TDataSet*>(this)->CalcAreaOffset() + field.CalcOffset();
  if (slot[0] == 0) return {};
  const char* data = slot + 1;
  switch (field.DataType()) {
    case TFieldType::ftString:
      return std::string(data, strnlen(data, static_cast<size_t>(field.Size())));
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftDate: {
      int32_t v;
      std::memcpy(&v, data, sizeof v);
      return v;
    }
    case TFieldType::ftBoolean:
      return data[0] != 0;
    default: {
      double v;
      std::memcpy(&v, data, sizeof v);
      return v;
    }
  }
}

void TDataSet::PutCalcValue(const TField& field, char* buffer, const TFieldValue& value) {
  char* slot = buffer + CalcAreaOffset() + field.CalcOffset();
  std::memset(slot, 0, static_cast<size_t>(1 + field.DataSize()));
  if (std::holds_alternative<std::monostate>(value)) return;
  slot[0] = 1;
  TField& f = const_cast<TField&>(field);
  switch (field.DataType()) {
    case TFieldType::ftString: {
      const std::string text = std::get<std::string>(value);
      std::memcpy(slot + 1, text.data(), std::min(text.size(), static_cast<size_t>(field.Size())));
      break;
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftDate: {
      const int32_t v = std::holds_alternative<int32_t>(value) ? std::get<int32_t>(value) : f.AsInteger();
      std::memcpy(slot + 1, &v, sizeof v);
      break;
    }
    case TFieldType::ftBoolean:
      slot[1] = std::holds_alternative<bool>(value) && std::get<bool>(value) ? 1 : 0;
      break;
    default: {
      const double v = std::holds_alternative<double>(value)    ? std::get<double>(value)
                       : std::holds_alternative<int32_t>(value) ? std::get<int32_t>(value)
                                                                 : 0.0;
      std::memcpy(slot + 1, &v, sizeof v);
    }
  }
}

void TDataSet::CalculateFields(char* buffer) {
  if (m_calcFieldsSize == 0) return;
  std::memset(buffer + CalcAreaOffset(), 0, static_cast<size_t>(m_calcFieldsSize));
  if (!OnCalcFields) return;
  const TDataSetState saved = m_state;
  char* savedBuffer = m_calcBuffer;
  m_state = TDataSetState::dsCalcFields;
  m_calcBuffer = buffer;
  dbf::TbrScopeExit restore([this, saved, savedBuffer] {
    m_state = saved;
    m_calcBuffer = savedBuffer;
  });
  OnCalcFields(*this);
}

// ---- links ----

TDataLink::~TDataLink() {
  if (m_linkedTo != nullptr) m_linkedTo->RemoveDataLink(this);
}

void TDataSet::AddDataLink(TDataLink* link) {
  if (link->m_linkedTo == this) return;
  if (link->m_linkedTo != nullptr) link->m_linkedTo->RemoveDataLink(link);
  m_links.push_back(link);
  link->m_linkedTo = this;
}

void TDataSet::RemoveDataLink(TDataLink* link) {
  if (link->m_linkedTo != this) return;
  m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
  link->m_linkedTo = nullptr;
}

void TDataSet::DisableControls() { ++m_disableCount; }

void TDataSet::EnableControls() {
  if (m_disableCount == 0 || --m_disableCount > 0) return;
  if (m_changedWhileDisabled) {
    m_changedWhileDisabled = false;
    Notify(LinkEvent::DataSet);
  }
}

void TDataSet::NotifyDataSetChanged() { Notify(LinkEvent::DataSet); }
void TDataSet::NotifyRecordChanged(TField* field) { Notify(LinkEvent::Record, field); }

void TDataSet::Notify(LinkEvent event, TField* field) {
  // A control's pending text still reaches a post made with controls disabled.
  if (m_disableCount > 0 && event != LinkEvent::UpdateData) {
    m_changedWhileDisabled = true;
    return;
  }
  const std::vector<TDataLink*> links = m_links;  // a link may detach itself
  for (TDataLink* link : links) {
    switch (event) {
      case LinkEvent::Active: link->ActiveChanged(); break;
      case LinkEvent::DataSet: link->DataSetChanged(); break;
      case LinkEvent::Record: link->RecordChanged(field); break;
      case LinkEvent::State: link->StateChanged(); break;
      case LinkEvent::Scroll: link->Scrolled(); break;
      case LinkEvent::UpdateData: link->UpdateData(); break;
    }
  }
}

}  // namespace qm::dataset
