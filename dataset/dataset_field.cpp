#include "dataset/dataset_field.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dataset/dataset.h"
#include "dbf/calendar.h"

namespace qm::dataset {

int FieldDataSize(TFieldType type, int size) {
  switch (type) {
    case TFieldType::ftString: return size + 1;
    case TFieldType::ftSmallint: return 2 + 2;  // kept as 32 bits in a slot
    case TFieldType::ftInteger:
    case TFieldType::ftDate: return 4;
    case TFieldType::ftBoolean: return 2;
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime: return 8;
    default: return 0;
  }
}

bool IsBlobType(TFieldType type) { return type == TFieldType::ftMemo || type == TFieldType::ftBlob; }

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {"ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftFloat",
                                       "ftDate",    "ftBoolean", "ftMemo",    "ftBlob",    "ftDateTime"};
  return kNames[static_cast<int>(type)];
}

TField::TField(TDataSet& dataSet, const TFieldDef& def, TFieldKind kind)
    : m_dataSet(dataSet),
      m_def(def),
      m_kind(kind),
      m_transliterate(def.dataType == TFieldType::ftMemo || def.dataType == TFieldType::ftString) {}

TFieldValue TField::Value() const {
  if (IsBlobType(DataType()) && !Calculated()) {
    std::string text = m_dataSet.CreateBlobStream(const_cast<TField&>(*this), TBlobAccess::baRead)->ReadAll();
    if (text.empty()) return {};
    return text;
  }
  return m_dataSet.GetFieldValue(*this);
}

bool TField::IsNull() const { return std::holds_alternative<std::monostate>(Value()); }

namespace {
std::string NumberText(double v) {
  if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15)
    return std::to_string(static_cast<long long>(v));
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}
}  // namespace

std::string ValueText(TFieldType type, const TFieldValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<int32_t>(&v)) {
    if (type == TFieldType::ftDate) return dbf::StoredDate(*i);
    return std::to_string(*i);
  }
  if (const auto* d = std::get_if<double>(&v)) return NumberText(*d);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "T" : "F";
  return {};
}

std::string TField::AsString() const { return ValueText(DataType(), Value()); }

int32_t TField::AsInteger() const {
  const TFieldValue v = Value();
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<int32_t>(std::nearbyint(*d));
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::string>(&v)) return static_cast<int32_t>(std::strtol(s->c_str(), nullptr, 10));
  return 0;
}

double TField::AsFloat() const {
  const TFieldValue v = Value();
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  if (const auto* s = std::get_if<std::string>(&v)) return std::strtod(s->c_str(), nullptr);
  return 0.0;
}

bool TField::AsBoolean() const {
  const TFieldValue v = Value();
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  if (const auto* s = std::get_if<std::string>(&v)) return !s->empty() && (s->front() == 'T' || s->front() == 't' ||
                                                                           s->front() == 'Y' || s->front() == 'y');
  return AsInteger() != 0;
}

int32_t TField::AsDate() const {
  const TFieldValue v = Value();
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  return 0;
}

void TField::SetValue(const TFieldValue& value) {
  if (OnValidate) OnValidate(*this, value);
  m_dataSet.SetFieldValue(*this, value);
}

// Text is converted to the field's kind of value; empty text is no value.
void TField::SetAsString(const std::string& text) {
  if (text.empty()) return Clear();
  switch (DataType()) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime: {
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (end == text.c_str() || *end != 0)
        throw EDatabaseError("'" + text + "' is not a valid value for field '" + DisplayName() + "'");
      return SetValue(v);
    }
    case TFieldType::ftDate: {
      const int32_t day = dbf::ParseDateText(text);
      if (day < 0) throw EDatabaseError("'" + text + "' is not a valid date for field '" + DisplayName() + "'");
      return SetAsDate(day);
    }
    case TFieldType::ftBoolean:
      return SetValue(text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
    default:
      return SetValue(text);
  }
}

void TField::SetAsDate(int32_t dayNumber) {
  if (dayNumber <= 0) return Clear();
  SetValue(dayNumber);
}

}  // namespace qm::dataset
