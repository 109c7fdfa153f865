// The table object's fields: lookup, raw bytes, display text and the typed
// accessors (numbers, dates, logicals) with their conversion reports.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dbf/calendar.h"
#include "dbf/char_tables.h"
#include "dbf/dbf_format.h"
#include "dbf/table.h"
#include "dbf/text_helpers.h"

namespace qm::dbf {
namespace {

constexpr size_t kNumberTextLimit = 31;
constexpr int32_t kLastStoredYear = 9999;
constexpr std::string_view kTrueLetters = "TtYyJj";

// Leading blanks, a sign, digits with a point and an exponent; nothing after.
bool ParseNumber(std::string_view text, double& value) {
  text = TrimLeft(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() ||
      !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.'))
    return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end) return false;
  if (negative) value = -value;
  return true;
}

// The value with the field's decimals, right-aligned to width (longer when it
// does not fit). Non-finite values give an empty text.
std::string FormatNumber(double value, uint32_t width, uint32_t decimals) {
  if (!std::isfinite(value)) return {};
  const int precision = static_cast<int>(decimals);
  const int size = std::snprintf(nullptr, 0, "%.*f", precision, value);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%.*f", precision, value);
  text.pop_back();
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

bool IsTrueText(std::string_view text) {
  return !text.empty() && kTrueLetters.find(text) != std::string_view::npos;
}

const TbrField kNoField{};

uint64_t GetU64(const char* p) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(p);
  return layout::GetU32(bytes) | (static_cast<uint64_t>(layout::GetU32(bytes + 4)) << 32);
}

std::string U64Bytes(uint64_t value, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Visual FoxPro's binary fields: I int32, B double, Y currency (int64 in
// ten-thousandths), T day number and milliseconds (two int32), and the
// 4-byte block numbers of M and G.
double DecodeVisualFox(char type, std::string_view raw) {
  char padded[8] = {};
  std::memcpy(padded, raw.data(), std::min<size_t>(raw.size(), sizeof padded));
  const uint64_t bits = GetU64(padded);
  switch (type) {
    case 'I':
      return static_cast<int32_t>(static_cast<uint32_t>(bits));
    case 'M':
    case 'G':
      return static_cast<uint32_t>(bits);
    case 'Y':
      return static_cast<double>(static_cast<int64_t>(bits)) / 10000.0;
    case 'T':
      return static_cast<int32_t>(static_cast<uint32_t>(bits)) + (bits >> 32) / 86400000.0;
    default: {
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
  }
}

bool EncodeVisualFox(char type, double value, std::string& bytes) {
  if (!std::isfinite(value)) return false;
  switch (type) {
    case 'I':
    case 'M':
    case 'G': {
      const double rounded = std::nearbyint(value);
      const double low = type == 'I' ? INT32_MIN : 0.0;
      const double high = type == 'I' ? INT32_MAX : UINT32_MAX;
      if (rounded < low || rounded > high) return false;
      bytes = U64Bytes(static_cast<uint32_t>(static_cast<int64_t>(rounded)), 4);
      return true;
    }
    case 'Y': {
      const double scaled = std::nearbyint(value * 10000.0);
      if (std::fabs(scaled) >= 9.2e18) return false;
      bytes = U64Bytes(static_cast<uint64_t>(static_cast<int64_t>(scaled)), 8);
      return true;
    }
    case 'T': {
      const double day = std::floor(value);
      if (day < INT32_MIN || day > INT32_MAX) return false;
      const auto ms = static_cast<uint32_t>(std::nearbyint((value - day) * 86400000.0));
      bytes = U64Bytes(static_cast<uint32_t>(static_cast<int32_t>(day)) | (uint64_t{ms} << 32), 8);
      return true;
    }
    default: {
      uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      bytes = U64Bytes(bits, 8);
      return true;
    }
  }
}

}  // namespace

bool TbrTable::IsVisualFoxBinary(const TbrField& field) const {
  if (m_version != layout::kVersionVisualFox) return false;
  if (field.type == 'I' || field.type == 'M' || field.type == 'G') return field.length == 4;
  return (field.type == 'B' || field.type == 'Y' || field.type == 'T') && field.length == 8;
}

const TbrField& TbrTable::Field(int32_t n) const {
  if (n < 1 || n > FieldCount()) return kNoField;
  return m_fields[static_cast<size_t>(n - 1)];
}

int32_t TbrTable::FindField(std::string_view name) const {
  const std::string_view wanted = TrimRight(name);
  auto sameLetter = [](char a, char b) {
    return UpperCase437(static_cast<uint8_t>(a)) == UpperCase437(static_cast<uint8_t>(b));
  };
  for (size_t i = 0; i < m_fields.size(); ++i) {
    const std::string& have = m_fields[i].name;
    if (have.size() == wanted.size() &&
        std::equal(have.begin(), have.end(), wanted.begin(), sameLetter))
      return static_cast<int32_t>(i + 1);
  }
  return 0;
}

int32_t TbrTable::FieldNumber(std::string_view name) {
  const int32_t n = FindField(name);
  if (n == 0) ReportText(code::kFieldNotFound, subcode::kFieldLookup, std::string(name).c_str());
  return n;
}

std::string_view TbrTable::RawView(int32_t n) const {
  const TbrField& field = Field(n);
  if (field.length == 0 || m_image == nullptr) return {};
  return {m_image + field.offset, field.length};
}

void TbrTable::FieldPut(int32_t n, std::string_view value) {
  if (n < 1 || n > FieldCount()) return;
  const TbrField& field = m_fields[static_cast<size_t>(n - 1)];
  char* bytes = m_image + field.offset;
  std::memset(bytes, ' ', field.length);
  if (value.size() > field.length) value = value.substr(0, field.length);
  const bool leftAligned = field.type == 'C' || field.type == 'D' || field.type == 'L';
  std::memcpy(leftAligned ? bytes : bytes + field.length - value.size(), value.data(),
              value.size());
  m_fieldChanged[static_cast<size_t>(n)] = 1;
  TableEvent(kEventFieldPut, n);
}

std::string TbrTable::Text(int32_t n) const {
  const TbrField& field = Field(n);
  const std::string_view text = TrimRight(RawView(n));
  switch (field.type) {
    case 'N':
    case 'F': {
      const std::string_view number = TrimLeft(text);
      if (!number.empty()) return std::string(number);
      return std::string(TrimLeft(FormatNumber(0.0, field.length, field.decimals)));
    }
    case 'D':
      return FormatDisplayDate(ParseStoredDate(RawView(n)));
    case 'L':
      return IsTrueText(text) ? "T" : "F";
    case 'M':
    case 'G':
    case 'B': {
      const bool set = MemoBlock(n) > 0;
      if (field.type == 'M') return set ? "---MEMO---" : "---memo---";
      if (field.type == 'G') return set ? "-GENERAL--" : "-general--";
      return set ? "--BINARY--" : "--binary--";
    }
    default:
      return std::string(text);
  }
}

std::string TbrTable::Text(std::string_view name) const { return Text(FindField(name)); }

void TbrTable::ReportInvalid(const char* what, int32_t n, std::string_view shown) {
  const std::string text = std::string("Invalid ") + what + " in field " + TableName() + "->" +
                           Field(n).name + " (" + std::string(shown) + ")";
  ReportText(code::kFieldType, subcode::kValueConversion, text.c_str());
}

double TbrTable::Number(int32_t n) {
  const TbrField& field = Field(n);
  if (field.length == 0) return 0.0;
  const std::string_view raw = RawView(n);
  if (IsVisualFoxBinary(field)) return DecodeVisualFox(field.type, raw);
  const std::string_view text = TrimRight(raw).substr(0, kNumberTextLimit);
  if (text.empty()) return 0.0;
  double value = 0.0;
  if (ParseNumber(text, value)) return value;
  ReportInvalid("number", n, text);
  return 0.0;
}

bool TbrTable::PutNumber(int32_t n, double value) {
  const TbrField& field = Field(n);
  if (field.length == 0) return false;
  const bool binary = IsVisualFoxBinary(field);
  if (!binary && std::string_view("NFMGB").find(field.type) == std::string_view::npos) {
    ReportText(code::kFieldType, subcode::kFieldType, field.name.c_str());
    return false;
  }
  if (binary) {
    std::string bytes;
    if (!EncodeVisualFox(field.type, value, bytes)) {
      const std::string message = field.name + " - " + FormatNumber(value, 0, field.decimals);
      ReportText(code::kNumberTooLong, subcode::kNumberPut, message.c_str());
      return false;
    }
    FieldPut(n, bytes);
    return true;
  }
  const std::string text = FormatNumber(value, field.length, field.decimals);
  if (text.empty() || text.size() > field.length) {
    const std::string message =
        field.name + " - " + (text.empty() ? std::string("NaN") : std::string(TrimLeft(text)));
    ReportText(code::kNumberTooLong, subcode::kNumberPut, message.c_str());
    return false;
  }
  FieldPut(n, text);
  return true;
}

int32_t TbrTable::Date(int32_t n) {
  const std::string_view raw = RawView(n);
  if (TrimRight(raw).empty()) return kNoDate;
  const int32_t day = ParseDateText(raw);
  if (day > 0) return day;
  if (day == kInvalidDate) ReportInvalid("date", n, raw);
  return kNoDate;
}

bool TbrTable::PutDate(int32_t n, int32_t dayNumber) {
  const TbrField& field = Field(n);
  if (field.length == 0) return false;
  // A stored date has four year digits: a later year would be kept modulo 10000.
  int32_t year = 0, month = 0, day = 0;
  const bool beyondYear9999 = dayNumber > 0 && SplitDayNumber(dayNumber, year, month, day) &&
                              year > kLastStoredYear;
  if (dayNumber == kInvalidDate || beyondYear9999)
    return Check(code::kFieldType, subcode::kDatePut);
  if (field.type != 'D') return false;
  FieldPut(n, StoredDate(dayNumber));
  return true;
}

bool TbrTable::Logical(int32_t n) const { return IsTrueText(RawView(n)); }

bool TbrTable::PutLogical(int32_t n, bool value) {
  const TbrField& field = Field(n);
  if (field.length == 0) return false;
  if (field.type != 'L') {
    ReportText(code::kFieldType, subcode::kFieldType, field.name.c_str());
    return false;
  }
  FieldPut(n, value ? "T" : "F");
  return true;
}

bool TbrTable::PutText(int32_t n, std::string_view text) {
  const TbrField& field = Field(n);
  if (field.length == 0) return false;
  if (field.type == 'D') return PutDate(n, ParseDateText(text));
  if (field.type == 'N' || field.type == 'F') {
    const std::string_view number = TrimRight(text).substr(0, kNumberTextLimit);
    double value = 0.0;
    if (!number.empty() && !ParseNumber(number, value)) {
      ReportText(code::kFieldType, subcode::kNumberPut, nullptr);
      return false;
    }
    return PutNumber(n, value);
  }
  FieldPut(n, text);
  return true;
}

// The field number for a typed accessor by name: 0 after a report when the
// name is unknown (1003) or the field's type is not accepted (1004/1299).
int32_t TbrTable::NumberFieldFor(std::string_view name, const char* acceptedTypes) {
  const int32_t n = FieldNumber(name);
  if (n == 0) return 0;
  if (std::strchr(acceptedTypes, Field(n).type) == nullptr || Field(n).type == 0) {
    ReportText(code::kFieldType, subcode::kFieldType, Field(n).name.c_str());
    return 0;
  }
  return n;
}

double TbrTable::Number(std::string_view name) { return Number(NumberFieldFor(name, "NBFGIM")); }
bool TbrTable::PutNumber(std::string_view name, double value) {
  const int32_t n = NumberFieldFor(name, "NBFGIM");
  return n != 0 && PutNumber(n, value);
}
int32_t TbrTable::Date(std::string_view name) { return Date(NumberFieldFor(name, "D")); }
bool TbrTable::PutDate(std::string_view name, int32_t dayNumber) {
  const int32_t n = NumberFieldFor(name, "D");
  return n != 0 && PutDate(n, dayNumber);
}
bool TbrTable::Logical(std::string_view name) { return Logical(NumberFieldFor(name, "L")); }
bool TbrTable::PutLogical(std::string_view name, bool value) {
  const int32_t n = NumberFieldFor(name, "L");
  return n != 0 && PutLogical(n, value);
}
bool TbrTable::PutText(std::string_view name, std::string_view text) {
  const int32_t n = FieldNumber(name);
  return n != 0 && PutText(n, text);
}

}  // namespace qm::dbf
