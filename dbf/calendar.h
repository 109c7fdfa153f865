#pragma once
// The engine's calendar and display dates.
//
// A date is a day number: 1721120 is 1 March of year 0, the first valid day;
// 25657575 the last. 0 means no date, -1 an invalid one. Leap years: divisible
// by 4, not by 100 unless by 400, and never by 4000.
//
// Display dates follow the process-wide date format type (0..10, default 8,
// mm/dd/yy); the century flag is off, so display years have two digits.

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::dbf {

constexpr int32_t kFirstDayNumber = 1721120;
constexpr int32_t kLastDayNumber = 25657575;
constexpr int32_t kNoDate = 0;
constexpr int32_t kInvalidDate = -1;

bool IsLeapYear(int32_t year);
int32_t DaysInMonth(int32_t year, int32_t month);  // 0 for a month outside 1..12

// Day number of a valid date, or -1 when the date does not exist or lies
// outside the valid range.
int32_t DayNumber(int32_t year, int32_t month, int32_t day);
// The inverse; false (and all parts 0) outside the valid range.
bool SplitDayNumber(int32_t dayNumber, int32_t& year, int32_t& month, int32_t& day);

// Stored form: "yyyymmdd"; 8 blanks for a day number of 0 or below.
std::string StoredDate(int32_t dayNumber);

// Reads stored "yyyymmdd" text: 0 for blanks, -1 when it is not a valid date.
int32_t ParseStoredDate(std::string_view text);

// Parses a display date (in the order of the format type; a year of one or
// two digits gets the current century) or "yyyymmdd". Blank text or text of
// separators only gives 0; anything else that is not a valid date gives -1.
int32_t ParseDateText(std::string_view text);

// Display text of a day number under the current format type; the bare
// template (for example "  /  /  ") for no date or an invalid one.
std::string FormatDisplayDate(int32_t dayNumber);

// Process-wide display settings.
void SetDateFormatType(int type);  // 0..10; other values are ignored
int DateFormatType();
void SetCenturyOn(bool on);
bool CenturyOn();
// The format type for the system's short date format (its first letter
// decides: D, M or Y) and date separator; 8 when nothing matches.
int DateFormatTypeFor(std::string_view shortDateFormat, char separator);

}  // namespace qm::dbf
