#include "dbf/calendar.h"

#include <atomic>
#include <ctime>

#include "dbf/text_helpers.h"

namespace qm::dbf {
namespace {

std::atomic<int> g_formatType{8};
std::atomic<bool> g_centuryOn{false};

enum class Order { MonthDayYear, DayMonthYear, YearMonthDay };

struct FormatSpec {
  Order order;
  char separator;
};

constexpr FormatSpec kFormats[11] = {
    {Order::MonthDayYear, '/'}, {Order::YearMonthDay, '.'}, {Order::DayMonthYear, '/'},
    {Order::DayMonthYear, '/'}, {Order::DayMonthYear, '.'}, {Order::DayMonthYear, '-'},
    {Order::YearMonthDay, '/'}, {Order::MonthDayYear, '-'}, {Order::MonthDayYear, '/'},
    {Order::DayMonthYear, '/'}, {Order::YearMonthDay, '/'},
};

int32_t CurrentCentury() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return (local.tm_year + 1900) / 100;
}

// A whole number of 1 to 9 digits; -1 otherwise.
int32_t ToNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return -1;
  int32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Splits "3/7/05" into three digit groups, each ending at the next non-digit.
void SplitGroups(std::string_view text, std::string_view groups[3]) {
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    size_t end = pos;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    groups[i] = text.substr(pos < text.size() ? pos : text.size(), end - pos);
    pos = end + 1;
  }
}

std::string TwoDigits(int32_t value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::string FourDigits(int32_t value) { return TwoDigits(value / 100) + TwoDigits(value % 100); }

}  // namespace

bool IsLeapYear(int32_t year) {
  if (year % 4 != 0 || year % 4000 == 0) return false;
  return year % 100 != 0 || year % 400 == 0;
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int32_t DayNumber(int32_t year, int32_t month, int32_t day) {
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return kInvalidDate;
  if (year == 0 && month <= 2) return kInvalidDate;
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t m = month <= 2 ? month + 9 : month - 3;  // March is month 0
  const int64_t rest = y % 4000;
  const int64_t number = (y / 4000) * 1460969 + (rest / 100) * 146097 / 4 +
                         (rest % 100) * 1461 / 4 + (153 * m + 2) / 5 + day + 1721119;
  if (number < kFirstDayNumber || number > kLastDayNumber) return kInvalidDate;
  return static_cast<int32_t>(number);
}

bool SplitDayNumber(int32_t dayNumber, int32_t& year, int32_t& month, int32_t& day) {
  year = month = day = 0;
  if (dayNumber < kFirstDayNumber || dayNumber > kLastDayNumber) return false;
  int64_t n = dayNumber - kFirstDayNumber;  // days since 1 March of year 0
  const int64_t cycles = n / 1460969;       // 4000-year cycles
  n -= cycles * 1460969;
  const int64_t century = (4 * n + 3) / 146097;
  n -= century * 146097 / 4;
  const int64_t yearInCentury = (4 * n + 3) / 1461;
  n -= yearInCentury * 1461 / 4;
  const int64_t monthFromMarch = (5 * n + 2) / 153;
  day = static_cast<int32_t>(n - (153 * monthFromMarch + 2) / 5 + 1);
  month = static_cast<int32_t>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  year = static_cast<int32_t>(cycles * 4000 + century * 100 + yearInCentury +
                              (monthFromMarch >= 10 ? 1 : 0));
  return true;
}

std::string StoredDate(int32_t dayNumber) {
  int32_t year, month, day;
  if (dayNumber <= 0 || !SplitDayNumber(dayNumber, year, month, day)) return std::string(8, ' ');
  return FourDigits(year) + TwoDigits(month) + TwoDigits(day);
}

int32_t ParseStoredDate(std::string_view text) {
  if (text.find_first_not_of(' ') == std::string_view::npos) return kNoDate;
  if (text.size() < 8) return kInvalidDate;
  const int32_t year = ToNumber(text.substr(0, 4));
  const int32_t month = ToNumber(text.substr(4, 2));
  const int32_t day = ToNumber(text.substr(6, 2));
  if (year < 0 || month < 0 || day < 0) return kInvalidDate;
  return DayNumber(year, month, day);
}

int32_t ParseDateText(std::string_view text) {
  text = text.substr(0, 10);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  bool separatorsOnly = true;
  bool hasSeparator = false;
  for (char c : text) {
    if (c != ' ' && c != '-' && c != '.' && c != '/') separatorsOnly = false;
    if (c < '0') hasSeparator = true;
  }
  if (separatorsOnly) return kNoDate;

  int32_t year, month, day;
  if (hasSeparator) {
    std::string_view groups[3];
    SplitGroups(text, groups);
    const Order order = kFormats[DateFormatType()].order;
    const int yearAt = order == Order::YearMonthDay ? 0 : 2;
    const int monthAt = order == Order::MonthDayYear ? 0 : 1;
    const int dayAt = order == Order::DayMonthYear ? 0 : order == Order::MonthDayYear ? 1 : 2;
    if (groups[yearAt].empty()) return kInvalidDate;
    std::string yearText(groups[yearAt]);
    if (yearText.size() < 3) yearText = TwoDigits(CurrentCentury()) + yearText;
    year = ToNumber(yearText);
    month = ToNumber(groups[monthAt]);
    day = ToNumber(groups[dayAt]);
  } else {
    return ParseStoredDate(text);
  }
  if (year < 0 || month < 0 || day < 0) return kInvalidDate;
  return DayNumber(year, month, day);
}

std::string FormatDisplayDate(int32_t dayNumber) {
  const FormatSpec spec = kFormats[DateFormatType()];
  const bool century = CenturyOn();
  int32_t year, month, day;
  const bool valid = dayNumber > 0 && SplitDayNumber(dayNumber, year, month, day);
  std::string y = !valid ? std::string(century ? 4 : 2, ' ')
                         : (century ? FourDigits(year) : TwoDigits(year % 100));
  std::string m = valid ? TwoDigits(month) : "  ";
  std::string d = valid ? TwoDigits(day) : "  ";
  const char s = spec.separator;
  switch (spec.order) {
    case Order::MonthDayYear:
      return m + s + d + s + y;
    case Order::DayMonthYear:
      return d + s + m + s + y;
    default:
      return y + s + m + s + d;
  }
}

void SetDateFormatType(int type) {
  if (type >= 0 && type <= 10) g_formatType = type;
}

int DateFormatType() { return g_formatType; }
void SetCenturyOn(bool on) { g_centuryOn = on; }
bool CenturyOn() { return g_centuryOn; }

int DateFormatTypeFor(std::string_view shortDateFormat, char separator) {
  if (separator == 0) separator = '/';
  const char first = UpperAscii(shortDateFormat.empty() ? 'M' : shortDateFormat.front());
  if (first == 'D') return separator == '-' ? 5 : separator == '.' ? 4 : separator == '/' ? 9 : 8;
  if (first == 'M') return separator == '-' ? 7 : 8;
  if (first == 'Y') return separator == '.' ? 1 : separator == '/' ? 10 : 8;
  return 8;
}

}  // namespace qm::dbf
