// The engine's calendar: day numbers against the civil calendar, its own
// leap rule for year 4000, invalid dates, parsing and display.
#include <gtest/gtest.h>

#include <chrono>

#include "dbf/calendar.h"

namespace qm::dbf {
namespace {

int64_t CivilDays(int y, unsigned m, unsigned d) {
  using namespace std::chrono;
  return sys_days(year_month_day(year(y), month(m), day(d))).time_since_epoch().count();
}

TEST(Calendar, FirstAndLastValidDays) {
  EXPECT_EQ(DayNumber(0, 3, 1), kFirstDayNumber);
  EXPECT_EQ(DayNumber(0, 2, 28), kInvalidDate);
  int32_t y, m, d;
  ASSERT_TRUE(SplitDayNumber(kLastDayNumber, y, m, d));
  EXPECT_EQ(DayNumber(y, m, d), kLastDayNumber);
  EXPECT_FALSE(SplitDayNumber(kLastDayNumber + 1, y, m, d));
  EXPECT_EQ(y + m + d, 0);
  EXPECT_FALSE(SplitDayNumber(0, y, m, d));
}

TEST(Calendar, AgreesWithTheCivilCalendarBeforeYear4000) {
  const int64_t offset = DayNumber(2000, 1, 1) - CivilDays(2000, 1, 1);
  for (int year : {1, 99, 100, 400, 1600, 1899, 1900, 2000, 2024, 2100, 3999}) {
    for (unsigned month = 1; month <= 12; ++month) {
      EXPECT_EQ(DayNumber(year, static_cast<int32_t>(month), 1) - CivilDays(year, month, 1), offset)
          << year << "-" << month;
    }
  }
}

TEST(Calendar, EveryDayRoundTrips) {
  int32_t y, m, d;
  int32_t previousYear = 0;
  for (int32_t day = kFirstDayNumber; day <= kLastDayNumber; day += 7) {
    ASSERT_TRUE(SplitDayNumber(day, y, m, d));
    ASSERT_EQ(DayNumber(y, m, d), day) << y << "-" << m << "-" << d;
    ASSERT_GE(y, previousYear);
    previousYear = y;
  }
  for (int32_t day = 2451000; day < 2452000; ++day) {  // consecutive days around 2000
    ASSERT_TRUE(SplitDayNumber(day, y, m, d));
    ASSERT_EQ(DayNumber(y, m, d), day);
  }
}

TEST(Calendar, LeapYearsIncludingTheYear4000Rule) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(4000));
  EXPECT_FALSE(IsLeapYear(8000));
  EXPECT_EQ(DayNumber(4000, 2, 29), kInvalidDate);
  EXPECT_EQ(DayNumber(4000, 3, 1) - DayNumber(4000, 2, 28), 1);
  int32_t y, m, d;
  ASSERT_TRUE(SplitDayNumber(DayNumber(4000, 2, 28) + 1, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 40000301);
}

TEST(Calendar, InvalidDatesGiveMinusOne) {
  EXPECT_EQ(DayNumber(2001, 2, 29), kInvalidDate);
  EXPECT_EQ(DayNumber(2001, 13, 1), kInvalidDate);
  EXPECT_EQ(DayNumber(2001, 4, 31), kInvalidDate);
  EXPECT_EQ(DayNumber(2001, 1, 0), kInvalidDate);
  EXPECT_EQ(ParseStoredDate("2001023 "), kInvalidDate);
  EXPECT_EQ(ParseStoredDate("2001O230"), kInvalidDate);
  EXPECT_EQ(ParseStoredDate("        "), kNoDate);
  EXPECT_EQ(StoredDate(kInvalidDate), "        ");
  EXPECT_EQ(StoredDate(DayNumber(5, 1, 2)), "00050102");
}

TEST(Calendar, ParsingFollowsTheFormatOrder) {
  SetDateFormatType(4);  // dd.mm.yy
  EXPECT_EQ(ParseDateText("07.03.2005"), DayNumber(2005, 3, 7));
  SetDateFormatType(10);  // yy/mm/dd
  EXPECT_EQ(ParseDateText("2005/3/7"), DayNumber(2005, 3, 7));
  SetDateFormatType(8);
  EXPECT_EQ(ParseDateText("3/7/2005"), DayNumber(2005, 3, 7));
  EXPECT_EQ(ParseDateText("20050307"), DayNumber(2005, 3, 7));
  EXPECT_EQ(ParseDateText(" / / "), kNoDate);
  EXPECT_EQ(ParseDateText(""), kNoDate);
  EXPECT_EQ(ParseDateText("3/7/"), kInvalidDate);
  EXPECT_EQ(ParseDateText("3/x/05"), kInvalidDate);
  EXPECT_EQ(ParseDateText("2005"), kInvalidDate);
}

TEST(Calendar, DisplayOfEveryFormatType) {
  const int32_t day = DayNumber(1999, 12, 31);
  const char* expected[11] = {"12/31/99", "99.12.31", "31/12/99", "31/12/99",
                              "31.12.99", "31-12-99", "99/12/31", "12-31-99",
                              "12/31/99", "31/12/99", "99/12/31"};
  for (int type = 0; type <= 10; ++type) {
    SetDateFormatType(type);
    EXPECT_EQ(FormatDisplayDate(day), expected[type]) << type;
  }
  SetDateFormatType(5);
  EXPECT_EQ(FormatDisplayDate(0), "  -  -  ");
  SetCenturyOn(true);
  EXPECT_EQ(FormatDisplayDate(DayNumber(2005, 3, 7)), "07-03-2005");
  SetCenturyOn(false);
  SetDateFormatType(8);
}

TEST(Calendar, FormatTypeFromTheSystemsShortDate) {
  EXPECT_EQ(DateFormatTypeFor("dd-MM-yyyy", '-'), 5);
  EXPECT_EQ(DateFormatTypeFor("dd.MM.yyyy", '.'), 4);
  EXPECT_EQ(DateFormatTypeFor("d/M/yy", '/'), 9);
  EXPECT_EQ(DateFormatTypeFor("M-d-yy", '-'), 7);
  EXPECT_EQ(DateFormatTypeFor("yyyy.MM.dd", '.'), 1);
  EXPECT_EQ(DateFormatTypeFor("yyyy/MM/dd", '/'), 10);
  EXPECT_EQ(DateFormatTypeFor("yyyy-MM-dd", '-'), 8);
  EXPECT_EQ(DateFormatTypeFor("", 0), 8);
}

}  // namespace
}  // namespace qm::dbf
