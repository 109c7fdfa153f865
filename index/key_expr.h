#pragma once
// Key expressions: small dBASE-style expressions over the fields of one record
// image, such as NAME, UPPER(NAME), DTOS(SHIPPED)+PARTNO or STR(PRICE,8,2).
//
// Terms are joined by "+" (append) or "-" (append, moving the trailing blanks of a
// function result or literal behind the whole result). Functions are chosen by
// where their name first occurs in one fixed text, so prefixes such as SUB or ST
// work and names found elsewhere fail. Results are at most 255 bytes.
//
// Failures are reported as code 1006, subcode 5212 with the offending text through
// the table's error operation (the engine's error hook without a table).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm::dbf {
class TbrTable;
}

namespace qm::index {

// The application's formula handler: offered every expression first; returns
// true when it produced the value itself.
using TbrFormulaHandler = std::function<bool(std::string_view caller, std::string_view expression,
                                             std::string& result, char& type, bool& changed)>;

struct TbrExprContext {
  dbf::TbrTable* table = nullptr;
  const char* image = nullptr;      // record image to read; null: the table's current one
  int keyLength = 0;                // of the tag the key is made for; 0 without a tag
  bool tagDates = false;            // date fields give the tag's date key form
  const TbrFormulaHandler* formula = nullptr;
};

inline constexpr size_t kMaxExpressionResult = 255;

// Result type letters: 'C', 'N', 'D', 'L'; 0 for none. Returns true when a
// non-empty result was produced; on false, `result` is empty and `type` 0.
bool EvaluateExpression(const TbrExprContext& context, std::string_view callerName,
                        std::string_view expression, std::string& result, char& type,
                        bool& changed);

// Drops blanks outside quotes, keeping one blank on either side of a comparison
// character (! < = >).
void NormalizeExpression(std::string& expression);

}  // namespace qm::index
