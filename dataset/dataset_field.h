#pragma once
// Field definitions and field objects of the generic dataset (dataset.h).
//
// A field object belongs to one dataset and reads and writes its value through
// that dataset's GetFieldData/SetFieldData hooks, so the value it sees is the
// one of the buffer the dataset's state selects (the current record in browse,
// the edited copy in edit and insert, the engine's image while filtering...).
// Values travel as TFieldValue: no value (null), text (UTF-8 for the windows),
// an integer, a floating-point number or a logical; a date is its engine day
// number (dbf/calendar.h) carried as an integer.

#include <cstdint>
#include <functional>
#include <string>
#include <variant>

namespace qm::dataset {

class TDataSet;

enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftFloat,
  ftDate,
  ftBoolean,
  ftMemo,
  ftBlob,
  ftDateTime
};

enum class TFieldKind { fkData, fkCalculated };

// What a field definition says: data fields have the engine's field number
// (from 1), calculated fields number 0 or below.
struct TFieldDef {
  int fieldNo = 0;
  std::string name;
  TFieldType dataType = TFieldType::ftUnknown;
  int size = 0;
  bool required = false;
};

// monostate: no value.
using TFieldValue = std::variant<std::monostate, std::string, int32_t, double, bool>;

// Display text of a value of the type: numbers in plain decimal, dates
// "yyyymmdd", logicals "T"/"F", "" for no value.
std::string ValueText(TFieldType type, const TFieldValue& value);

// Bytes a value of the type takes in a calculated-fields slot (strings: size + 1).
int FieldDataSize(TFieldType type, int size);
bool IsBlobType(TFieldType type);
const char* FieldTypeName(TFieldType type);

class TField {
 public:
  TField(TDataSet& dataSet, const TFieldDef& def, TFieldKind kind);

  TDataSet& DataSet() const { return m_dataSet; }
  const std::string& FieldName() const { return m_def.name; }
  const std::string& DisplayName() const { return m_def.name; }
  int FieldNo() const { return m_def.fieldNo; }
  TFieldType DataType() const { return m_def.dataType; }
  int Size() const { return m_def.size; }
  int DataSize() const { return FieldDataSize(m_def.dataType, m_def.size); }
  TFieldKind Kind() const { return m_kind; }
  bool Calculated() const { return m_kind == TFieldKind::fkCalculated; }
  bool ReadOnly() const { return m_readOnly; }
  void SetReadOnly(bool on) { m_readOnly = on; }
  // Memo and string fields translate between the file's and the windows' code page.
  bool Transliterate() const { return m_transliterate; }
  void SetTransliterate(bool on) { m_transliterate = on; }
  // Offset of the field's slot in the calculated-fields area (calculated fields only).
  int CalcOffset() const { return m_calcOffset; }
  void SetCalcOffset(int offset) { m_calcOffset = offset; }

  // ---- value ----
  TFieldValue Value() const;
  bool IsNull() const;
  // Display text: strings as they are, numbers in plain decimal, dates
  // "yyyymmdd", logicals "T"/"F", memo fields their whole text; "" for null.
  std::string AsString() const;
  int32_t AsInteger() const;  // null, and text that is not a number: 0
  double AsFloat() const;
  bool AsBoolean() const;
  int32_t AsDate() const;  // day number, 0 for none

  // Writes go through the dataset, which checks its state and the field.
  void SetValue(const TFieldValue& value);
  void SetAsString(const std::string& text);
  void SetAsInteger(int32_t value) { SetValue(value); }
  void SetAsFloat(double value) { SetValue(value); }
  void SetAsBoolean(bool value) { SetValue(value); }
  void SetAsDate(int32_t dayNumber);
  void Clear() { SetValue(std::monostate{}); }

  // Runs before a value is stored; may throw to refuse it.
  std::function<void(TField&, const TFieldValue&)> OnValidate;
  // After a stored value changed (field-change notification).
  std::function<void(TField&)> OnChange;

 private:
  TDataSet& m_dataSet;
  TFieldDef m_def;
  TFieldKind m_kind;
  bool m_readOnly = false;
  bool m_transliterate = false;
  int m_calcOffset = 0;
};

}  // namespace qm::dataset
