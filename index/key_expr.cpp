#include "index/key_expr.h"

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "dbf/calendar.h"
#include "dbf/char_tables.h"
#include "dbf/table.h"
#include "dbf/text_helpers.h"
#include "index/index_errors.h"
#include "index/ndx_key.h"

namespace qm::index {

namespace {

constexpr std::string_view kFunctionNames =
    "DTOCDTOSSUBSTRUPPERLEFTRIGHTRECNODATEEMPTYLOWER.NOT.DELETEDSTRZERO";

// 1-based positions in kFunctionNames that select a function.
enum Function {
  kDtoc = 1, kDtos = 5, kSubstr = 9, kStr = 12, kUpper = 15, kLeft = 20, kRight = 24,
  kRecno = 29, kDate = 34, kEmpty = 38, kLower = 43, kNotDeleted = 48, kDeleted = 53,
  kStrZero = 60
};

bool IsComparison(char c) { return c == '!' || c == '<' || c == '=' || c == '>'; }

using dbf::TrimRight;

bool ParseInt(std::string_view s, int& out) {
  std::string text(s);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

bool ParseNumber(std::string_view s, double& out) {
  std::string text(TrimRight(s));
  size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) {
    out = 0;
    return true;
  }
  char* end = nullptr;
  out = std::strtod(text.c_str() + start, &end);
  return *end == '\0' && std::isfinite(out);
}

std::string FormatNumber(double value, int width, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%*.*f", width, std::max(decimals, 0), value);
  std::string text = buffer;
  // A number too wide for its width shows as asterisks, as dBASE does.
  return static_cast<int>(text.size()) > width ? std::string(width, '*') : text;
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return buffer;
}

// A date-time field (milliseconds) as a day number with the time as its fraction.
std::string DateTimeKeyText(std::string_view raw) {
  double number = 0;
  ParseNumber(raw, number);
  const double days = std::floor(number / 86400000.0);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", days + 1721425 + (number - days * 86400000.0) / 86400000.0);
  return buffer;
}

class Evaluator {
 public:
  Evaluator(const TbrExprContext& context, bool& changed) : m_ctx(context), m_changed(changed) {}

  // Evaluates a normalised, upper-cased expression; false after a reported failure.
  bool Sequence(std::string_view text, std::string& out, char& type);

 private:
  enum class TermKind { Literal, Function, Field };
  bool Term(std::string_view& rest, std::string& value, char& type, TermKind& kind);
  bool Field(std::string_view name, std::string& value, char& type);
  struct CallArguments {
    int numbers[2] = {0, 0};
    std::string arg;
    char argType = 0;
  };
  bool Call(std::string_view name, std::string_view args, std::string& value, char& type);
  bool Arguments(int function, std::string_view args, const std::vector<std::string_view>& parts,
                 CallArguments& call);
  bool Logical(int function, const std::string& arg, std::string& value, char& type);
  bool Str(const std::vector<std::string_view>& args, const std::string& arg, bool zero,
           std::string& value);
  bool Fail(std::string_view text);
  const char* Image() const;

  const TbrExprContext& m_ctx;
  bool& m_changed;
};

bool Evaluator::Fail(std::string_view text) {
  std::string message(text);
  if (m_ctx.table == nullptr) {
    dbf::CallErrorHook(code::kExpression, subcode::kExpression, message.c_str());
  } else if (m_ctx.table->SuppressionCount() == 0) {
    m_ctx.table->Error(code::kExpression, subcode::kExpression, message.c_str());
  }
  return false;
}

const char* Evaluator::Image() const {
  return m_ctx.image != nullptr ? m_ctx.image : m_ctx.table->RecordImage();
}

bool Evaluator::Sequence(std::string_view text, std::string& out, char& type) {
  size_t movedBlanks = 0;
  bool first = true;
  while (!text.empty()) {
    std::string value;
    char termType = 0;
    TermKind kind = TermKind::Field;
    if (!Term(text, value, termType, kind)) return false;
    out += value;
    if (out.size() > kMaxExpressionResult) return Fail(out);
    type = first ? termType : 'C';
    first = false;
    if (text.empty()) break;
    char op = text.front();
    if (op != '+' && op != '-') return Fail(text);
    text.remove_prefix(1);
    if (op == '-' && kind != TermKind::Field) {
      size_t keep = out.size() - value.size() + TrimRight(value).size();
      movedBlanks += out.size() - keep;
      out.resize(keep);
    }
  }
  out.append(movedBlanks, ' ');
  if (out.size() > kMaxExpressionResult) return Fail(out);
  return !out.empty();
}

bool Evaluator::Term(std::string_view& rest, std::string& value, char& type, TermKind& kind) {
  while (!rest.empty() && rest.front() == '(') {
    rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == ')') rest.remove_suffix(1);
  }
  if (rest.empty()) return Fail(rest);
  if (rest.front() == '"' || rest.front() == '\'') {
    size_t close = rest.find(rest.front(), 1);
    if (close == std::string_view::npos) return Fail(rest);
    value.assign(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    type = 'C';
    kind = TermKind::Literal;
    return true;
  }
  size_t end = rest.find_first_of("+-(");
  std::string_view name = rest.substr(0, end);
  if (end != std::string_view::npos && rest[end] == '(') {
    int depth = 0;
    size_t close = end;
    for (; close < rest.size(); ++close) {
      if (rest[close] == '(') ++depth;
      if (rest[close] == ')' && --depth == 0) break;
    }
    if (close == rest.size()) return Fail(name);
    std::string_view args = rest.substr(end + 1, close - end - 1);
    rest.remove_prefix(close + 1);
    kind = TermKind::Function;
    return Call(name, args, value, type);
  }
  rest.remove_prefix(name.size());
  kind = TermKind::Field;
  return Field(name, value, type);
}

bool Evaluator::Field(std::string_view name, std::string& value, char& type) {
  int32_t n = m_ctx.table->FindField(name);
  if (n == 0 || m_ctx.table->FieldLength(n) >= 255) return Fail(name);
  const dbf::TbrField& field = m_ctx.table->Field(n);
  std::string_view raw(Image() + field.offset, field.length);
  if (m_ctx.table->FieldChanged().size() > static_cast<size_t>(n) && m_ctx.table->FieldChanged()[n])
    m_changed = true;
  type = field.type;
  double number = 0;
  switch (field.type) {
    case 'C':
      value.assign(raw);
      break;
    case 'D':
      value = m_ctx.tagDates ? NdxDateKeyText(raw) : std::string(raw);
      break;
    case 'L':
      value = std::string_view("TtYyJj").find(raw.empty() ? ' ' : raw[0]) != std::string_view::npos
                  ? "T" : "F";
      type = 'C';  // a logical term counts as character
      break;
    case 'T':
      value = DateTimeKeyText(raw);
      break;
    default: {
      bool stored = ParseNumber(raw, number);
      if (!stored) number = 0;
      value = FormatNumber(number, static_cast<int>(field.length), static_cast<int>(field.decimals));
      // A stored number that does not fit the field's own layout (more digits before
      // the point than the decimals leave room for) keeps its value as stored
      // rather than turning into asterisks, which every key would read as 0.
      if (stored && value.find('*') != std::string::npos) value.assign(raw);
      type = 'N';
    }
  }
  return true;
}

std::vector<std::string_view> SplitArguments(std::string_view args) {
  std::vector<std::string_view> parts;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == '(') ++depth;
    if (args[i] == ')') --depth;
    if (args[i] == ',' && depth == 0) {
      parts.push_back(args.substr(start, i - start));
      start = i + 1;
    }
  }
  if (!args.empty()) parts.push_back(args.substr(start));
  return parts;
}

// DTOC() and DTOS() of a date argument: stored "yyyymmdd" text for DTOS (and
// DTOC(d, 1)), the display form otherwise; any other argument passes unchanged.
std::string DateFunctionText(bool stored, const std::string& arg, char argType, bool tagDates) {
  if (argType != 'D') return arg;
  int day = 0;
  const std::string_view digits = dbf::TrimLeft(TrimRight(arg));
  if (!tagDates && digits.size() == 8) day = dbf::ParseDateText(digits);
  else if (!ParseInt(digits, day)) day = 0;
  return stored ? dbf::StoredDate(day < 1 ? 0 : day) : dbf::FormatDisplayDate(day);
}

// SUBSTR(text, start[, length]): a start outside the text gives the text whole.
std::string Substring(const std::string& arg, int start, int length) {
  if (start < 1 || start > static_cast<int>(arg.size())) return arg;
  std::string value = arg.substr(start - 1);
  if (length >= 1 && length < static_cast<int>(value.size())) value.resize(length);
  return value;
}

std::string MapCase437(const std::string& arg, uint8_t (*map)(uint8_t)) {
  std::string value;
  for (char c : arg) value += static_cast<char>(map(static_cast<uint8_t>(c)));
  return value;
}

// The numeric second and third arguments, and the first one evaluated (for the
// functions that take an expression); false after a reported failure.
bool Evaluator::Arguments(int function, std::string_view args, const std::vector<std::string_view>& parts,
                          CallArguments& call) {
  for (size_t i = 1; i < parts.size() && i < 3; ++i) {
    if (!ParseInt(parts[i], call.numbers[i - 1])) return Fail(parts[i]);
  }
  const bool evaluated = function != kRecno && function != kDate && function != kNotDeleted &&
                         function != kDeleted && function != 0;
  if (!evaluated) return true;
  const std::string_view first = parts.empty() ? std::string_view() : parts[0];
  // An empty argument fails every function but EMPTY, which tests for exactly that.
  if ((first.empty() || !Sequence(first, call.arg, call.argType)) && function != kEmpty) return Fail(args);
  return true;
}

bool Evaluator::Call(std::string_view name, std::string_view args, std::string& value,
                     char& type) {
  const size_t found = name.empty() ? std::string_view::npos : kFunctionNames.find(name);
  const int function = found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
  const std::vector<std::string_view> parts = SplitArguments(args);
  CallArguments call;
  if (!Arguments(function, args, parts, call)) return false;
  const std::string& arg = call.arg;
  const int* numbers = call.numbers;
  type = call.argType;
  switch (function) {
    case kDtoc:
    case kDtos:
      type = 'C';
      value = DateFunctionText(function == kDtos || numbers[0] == 1, arg, call.argType, m_ctx.tagDates);
      return true;
    case kSubstr:
      value = Substring(arg, numbers[0], numbers[1]);
      return true;
    case kStr:
    case kStrZero:
      type = 'C';
      return Str(parts, arg, function == kStrZero, value);
    case kUpper:
      value = MapCase437(arg, dbf::UpperCase437);
      return true;
    case kLower:
      value = MapCase437(arg, dbf::LowerCase437);
      return true;
    case kLeft:
      if (parts.size() < 2 || numbers[0] < 0 || numbers[0] > 255) return Fail(args);
      value = arg.substr(0, numbers[0]);
      return true;
    case kRight:
      if (parts.size() < 2 || numbers[0] < 0 || numbers[0] > static_cast<int>(arg.size())) return Fail(args);
      value = arg.substr(arg.size() - numbers[0]);
      return true;
    default:
      return Logical(function, arg, value, type) || Fail(args);
  }
}

// RECNO(), DATE(), EMPTY(), !DELETED() and DELETED(); false for any other function.
bool Evaluator::Logical(int function, const std::string& arg, std::string& value, char& type) {
  switch (function) {
    case kRecno:
      value = std::to_string(m_ctx.table->RecNo());
      type = 'N';
      return true;
    case kDate:
      value = Today();
      type = 'D';
      m_changed = true;
      return true;
    case kEmpty:
      value = TrimRight(arg).empty() ? "T" : "F";
      type = 'L';
      return true;
    case kNotDeleted:
    case kDeleted:
      value = (function == kDeleted) == (Image()[0] == '*') ? "T" : "F";
      type = 'L';
      return true;
    default:
      return false;
  }
}

bool Evaluator::Str(const std::vector<std::string_view>& args, const std::string& arg, bool zero,
                    std::string& value) {
  size_t count = args.size();
  int width = 0;
  if (count == 1 && m_ctx.keyLength >= 1) {
    width = m_ctx.keyLength;
    count = 2;
  } else if (count >= 2) {
    ParseInt(args[1], width);
  }
  if (count < 2) {
    value = arg;
    return true;
  }
  int decimals = 0;
  if (count == 2) {
    size_t point = arg.find('.');
    decimals = point == std::string::npos ? 0 : static_cast<int>(arg.size() - point - 1);
  } else {
    ParseInt(args[2], decimals);
  }
  double number = 0;
  if (!ParseNumber(arg, number) || width >= 32 || width < 1 || decimals < 0 || decimals >= 32)
    return Fail(arg);
  value = FormatNumber(number, width, decimals);
  if (zero) {
    for (char& c : value) {
      if (c != ' ') break;
      c = '0';
    }
  }
  return true;
}

}  // namespace

void NormalizeExpression(std::string& expression) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < expression.size(); ++i) {
    char c = expression[i];
    if (c == '"' || c == '\'') quoted = !quoted;
    if (c == ' ' && !quoted) {
      bool before = i + 1 < expression.size() && IsComparison(expression[i + 1]);
      bool after = i > 0 && IsComparison(expression[i - 1]);
      if (!before && !after) continue;
    }
    out += c;
  }
  expression = out;
}

bool EvaluateExpression(const TbrExprContext& context, std::string_view callerName,
                        std::string_view expression, std::string& result, char& type,
                        bool& changed) {
  if (context.formula != nullptr && *context.formula &&
      (*context.formula)(callerName, expression, result, type, changed))
    return true;
  type = 0;
  changed = false;
  result.clear();
  if (expression.empty() || context.table == nullptr) {
    result.assign(callerName);
    if (result.size() < 10) result.resize(10, ' ');
    type = 'C';
    return true;
  }
  std::string text(expression);
  NormalizeExpression(text);
  text = dbf::UpperAscii(text);
  Evaluator evaluator(context, changed);
  if (evaluator.Sequence(text, result, type)) return true;
  // A refused expression leaves no partial text behind (it may exceed the cap).
  result.clear();
  type = 0;
  return false;
}

}  // namespace qm::index
