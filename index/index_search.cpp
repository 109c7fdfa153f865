// Sequential search of the ordered table: a value looked for field by field,
// record by record, under the search options word.
#include <cmath>
#include <cstdlib>

#include "dbf/calendar.h"
#include "dbf/text_helpers.h"
#include "index/index_table.h"

namespace qm::index {

namespace {

constexpr int kCaseless = 1, kWhole = 2, kWildcard = 4, kKeepState = 8, kKeepOrder = 16,
              kAtStart = 32;

// Numbers are compared as the 6-byte reals of the original platform hold them.
double RoundToReal48(double x) {
  if (x == 0 || !std::isfinite(x)) return x;
  int exponent;
  double mantissa = std::frexp(x, &exponent);
  return std::ldexp(std::round(std::ldexp(mantissa, 40)), exponent - 40);
}

bool ReadNumber(const std::string& text, double& value) {
  size_t start = text.find_first_not_of(' ');
  size_t end = text.find_last_not_of(' ');
  if (start == std::string::npos) return false;
  std::string trimmed = text.substr(start, end - start + 1);
  char* stop = nullptr;
  value = std::strtod(trimmed.c_str(), &stop);
  return *stop == '\0';
}

// Position (from 1) of `value` in a character text under the options, 0 for none.
int MatchText(std::string text, std::string value, int options) {
  if (options & kCaseless) {
    text = dbf::UpperAscii(text);
    value = dbf::UpperAscii(value);
  }
  bool anywhere = !(options & kAtStart) && !(options & kWhole);
  bool continues = !(options & kWhole);
  bool joker = false;
  if (options & kWildcard) {
    anywhere = !value.empty() && value.front() == '*';
    if (anywhere) value.erase(0, 1);
    continues = !value.empty() && value.back() == '*';
    if (continues) value.pop_back();
    joker = !anywhere;
  }
  size_t trimmed = text.find_last_not_of(' ') + 1;  // npos + 1 == 0 for a blank text
  if (text.size() < value.size()) return 0;
  size_t last = anywhere ? text.size() - value.size() : 0;
  for (size_t start = 0; start <= last; ++start) {
    size_t i = 0;
    while (i < value.size() && (text[start + i] == value[i] || (joker && value[i] == '?'))) ++i;
    if (i < value.size()) continue;
    if (continues || start + value.size() >= trimmed) return static_cast<int>(start) + 1;
  }
  return 0;
}

}  // namespace

int TbrIndexTable::MatchField(int32_t field, const std::string& value, bool allFields) {
  std::string raw = RawText(field);
  double a = 0, b = 0;
  switch (FieldType(field)) {
    case 'C':
      return MatchText(raw, value, m_searchOptions);
    case 'N':
    case 'F':
      return ReadNumber(value, a) && (ReadNumber(raw, b) || raw.find_first_not_of(' ') == std::string::npos) &&
                     RoundToReal48(a) == RoundToReal48(b)
                 ? 1 : 0;
    case 'D':
      return dbf::ParseDateText(value) == dbf::ParseDateText(raw) ? 1 : 0;
    case 'L':
      if (allFields) return 0;
      return Logical(field) == (std::string("TtYyJj").find(value[0]) != std::string::npos) ? 1 : 0;
    case 'M': {
      std::string memo = MemoText(field);
      for (size_t start = 0; start <= memo.size();) {
        size_t end = memo.find('\n', start);
        std::string line = memo.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (int position = MatchText(line, value, m_searchOptions)) return position;
        if (end == std::string::npos) break;
        start = end + 1;
      }
      return 0;
    }
    default:
      return 0;
  }
}

int TbrIndexTable::SequentialSearch(const std::string& value, int32_t& field, int32_t limit,
                                    int32_t& recNo) {
  if (field > FieldCount() || field < 0 || value.empty()) return 0;
  const int32_t startRecord = RecNo();
  const TbrTableMode mode = m_mode;
  TbrNdxTag* const order = m_current;
  const bool readAhead = ReadAhead();
  if (!(m_searchOptions & kKeepState)) m_mode = TbrTableMode::Indexing;
  if (!(m_searchOptions & kKeepOrder) && m_current != nullptr) {
    m_current = nullptr;
    SetReadAhead(true);
  }
  int found = 0;
  bool ok = recNo == 0 ? GoTo(dbf::kGoTop) : GoTo(recNo) && GoTo(dbf::kGoNext);
  for (; ok && found == 0 && (limit == 0 || RecNo() <= limit); ok = found == 0 && GoTo(dbf::kGoNext)) {
    if (OnStatus) OnStatus(1, 21, RecNo());
    for (int32_t f = field == 0 ? 1 : field; f <= (field == 0 ? FieldCount() : field); ++f) {
      if ((found = MatchField(f, value, field == 0)) != 0) {
        field = f;
        recNo = RecNo();
        break;
      }
    }
  }
  m_current = order;
  SetReadAhead(readAhead);
  m_mode = mode;
  if (found != 0) {
    GoTo(recNo);
  } else if (startRecord > 0) {
    GoTo(startRecord);
  }
  if (OnStatus) OnStatus(0, 0, 0);
  return found;
}

}  // namespace qm::index
