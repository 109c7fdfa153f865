// Field values: display text, numbers, dates, logicals and memo markers, and
// the reports of failed conversions.
#include <gtest/gtest.h>

#include "dbf/calendar.h"
#include "dbf/dbf_format.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::FieldSpec;

const std::vector<FieldSpec> kFields = {
    {"NAME", 'C', 10}, {"PRICE", 'N', 8, 2}, {"QTY", 'N', 6, 2}, {"BORN", 'D', 8},
    {"OK", 'L', 1},    {"SNOTES", 'M', 10},  {"PIC", 'G', 10}};

class FieldValuesTest : public ::testing::Test {
 protected:
  void Load(const std::vector<std::string>& values) {
    const std::string path = m_dir.File("VALUES.DBF");
    test::WriteFileBytes(path,
                         test::TableBytes(0x03, kFields, {test::RecordBytes(kFields, values)}));
    m_table = std::make_unique<TbrTable>(path, kOpenSharedReadWrite);
    ASSERT_TRUE(m_table->OpenTable());
    ASSERT_TRUE(m_table->GoTo(kGoTop));
  }
  const test::Report& LastReport() const { return m_reports.Reports().back(); }
  test::ScratchDir m_dir;
  test::ReportRecorder m_reports;
  std::unique_ptr<TbrTable> m_table;
};

TEST_F(FieldValuesTest, CharacterTextKeepsLeadingBlanks) {
  Load({"  Lamp"});
  EXPECT_EQ(m_table->Text(1), "  Lamp");
  EXPECT_EQ(m_table->RawText(1), "  Lamp    ");
  EXPECT_EQ(m_table->Text("name"), "  Lamp");
}

TEST_F(FieldValuesTest, BlankNumericShowsFormattedZero) {
  Load({});
  EXPECT_EQ(m_table->Text(2), "0.00");
  EXPECT_EQ(m_table->Number(2), 0.0);
  EXPECT_TRUE(m_reports.Reports().empty());
}

TEST_F(FieldValuesTest, NumberTextIsTrimmedAndConverted) {
  Load({"", "  -12.50", "1e2"});
  EXPECT_EQ(m_table->Text(2), "-12.50");
  EXPECT_DOUBLE_EQ(m_table->Number(2), -12.5);
  EXPECT_DOUBLE_EQ(m_table->Number("qty"), 100.0);
}

TEST_F(FieldValuesTest, InvalidNumberReportsAndGivesZero) {
  Load({"", "12X4"});
  EXPECT_EQ(m_table->Number(2), 0.0);
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, -7);
  EXPECT_EQ(LastReport().text, "Invalid number in field VALUES->PRICE (    12X4)");
}

TEST_F(FieldValuesTest, NumberPutFormatsOrRefusesWhatDoesNotFit) {
  Load({});
  EXPECT_FALSE(m_table->PutNumber(3, 1234.5));
  EXPECT_EQ(LastReport().code, 1011);
  EXPECT_EQ(LastReport().subCode, 1261);
  EXPECT_EQ(LastReport().text, "QTY - 1234.50");
  EXPECT_EQ(m_table->RawText(3), "      ");  // unchanged
  EXPECT_TRUE(m_table->PutNumber(2, 1234.5));
  EXPECT_EQ(m_table->RawText(2), " 1234.50");
  EXPECT_TRUE(m_table->PutNumber(2, -0.001));
  EXPECT_EQ(m_table->RawText(2), "    0.00");
  EXPECT_FALSE(m_table->PutNumber(1, 5));
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, 1299);
}

TEST_F(FieldValuesTest, TextPutConvertsNumbersAndRefusesNonNumbers) {
  Load({});
  EXPECT_TRUE(m_table->PutText(2, "3.14159  "));
  EXPECT_EQ(m_table->RawText(2), "    3.14");
  EXPECT_FALSE(m_table->PutText(2, "abc"));
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, 1261);
  EXPECT_EQ(m_table->RawText(2), "    3.14");
}

TEST_F(FieldValuesTest, DatesReadValidateAndDisplay) {
  SetDateFormatType(8);
  Load({"", "", "", "20000229"});
  EXPECT_EQ(m_table->Date(4), DayNumber(2000, 2, 29));
  EXPECT_EQ(m_table->Text(4), "02/29/00");
  m_table->FieldPut(4, "19000229");
  EXPECT_EQ(m_table->Date(4), 0);
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, -7);
  EXPECT_EQ(LastReport().text, "Invalid date in field VALUES->BORN (19000229)");
  m_table->FieldPut(4, "19991231");
  EXPECT_EQ(m_table->Text(4), "12/31/99");
  m_table->FieldPut(4, "");
  const size_t reports = m_reports.Reports().size();
  EXPECT_EQ(m_table->Date(4), 0);
  EXPECT_EQ(m_table->Text(4), "  /  /  ");
  EXPECT_EQ(m_reports.Reports().size(), reports);
}

TEST_F(FieldValuesTest, DatePutAndTextPutWithConversion) {
  SetDateFormatType(8);
  Load({});
  EXPECT_TRUE(m_table->PutText(4, "3/7/05"));
  EXPECT_EQ(m_table->RawText(4), "20050307");
  EXPECT_FALSE(m_table->PutText(4, "2/30/05"));
  EXPECT_EQ(LastReport().subCode, 1251);
  EXPECT_EQ(m_table->RawText(4), "20050307");
  // Four year digits: a later year is refused, never stored modulo 10000.
  EXPECT_FALSE(m_table->PutText(4, "1/1/10000"));
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, 1251);
  EXPECT_FALSE(m_table->PutDate(4, DayNumber(10000, 1, 1)));
  EXPECT_EQ(m_table->RawText(4), "20050307");
  EXPECT_TRUE(m_table->PutDate(4, DayNumber(9999, 12, 31)));
  EXPECT_EQ(m_table->RawText(4), "99991231");
  EXPECT_TRUE(m_table->PutDate(4, 0));
  EXPECT_EQ(m_table->RawText(4), "        ");
  EXPECT_FALSE(m_table->PutDate(1, DayNumber(2001, 1, 1)));  // not a date field: nothing stored
  EXPECT_EQ(m_table->RawText(1), "          ");
  EXPECT_FALSE(m_table->PutDate("name", DayNumber(2001, 1, 1)));
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, 1299);
  EXPECT_EQ(LastReport().text, "NAME");
}

TEST_F(FieldValuesTest, LogicalLetters) {
  Load({});
  for (const char* letter : {"T", "t", "Y", "y", "J", "j"}) {
    m_table->FieldPut(5, letter);
    EXPECT_TRUE(m_table->Logical(5)) << letter;
    EXPECT_EQ(m_table->Text(5), "T");
  }
  for (const char* letter : {"N", "", "?", "F"}) {
    m_table->FieldPut(5, letter);
    EXPECT_FALSE(m_table->Logical(5)) << letter;
    EXPECT_EQ(m_table->Text(5), "F");
  }
  EXPECT_TRUE(m_table->PutLogical("ok", true));
  EXPECT_EQ(m_table->RawText(5), "T");
  EXPECT_FALSE(m_table->PutLogical(1, true));
  EXPECT_EQ(LastReport().subCode, 1299);
}

TEST_F(FieldValuesTest, MemoMarkerWords) {
  Load({});
  EXPECT_EQ(m_table->Text(6), "---memo---");
  EXPECT_EQ(m_table->Text(7), "-general--");
  m_table->FieldPut(6, "12");
  m_table->FieldPut(7, "0");
  EXPECT_EQ(m_table->Text(6), "---MEMO---");
  EXPECT_EQ(m_table->Text(7), "-general--");
  EXPECT_DOUBLE_EQ(m_table->Number("snotes"), 12.0);  // the number accessor accepts M
}

TEST_F(FieldValuesTest, TypedAccessorByNameChecksTheType) {
  Load({"x"});
  EXPECT_EQ(m_table->Date("name"), 0);
  EXPECT_EQ(LastReport().code, 1004);
  EXPECT_EQ(LastReport().subCode, 1299);
  EXPECT_FALSE(m_table->Logical("price"));
  EXPECT_EQ(LastReport().text, "PRICE");
  EXPECT_EQ(m_table->MemoLength("name"), 0u);
  EXPECT_EQ(LastReport().text, "NAME");
}

TEST_F(FieldValuesTest, BlankRecordHoldsFormattedZeroInNumbers) {
  Load({"x", "5"});
  m_table->BlankRecord();
  EXPECT_EQ(m_table->RawText(1), "          ");
  EXPECT_EQ(m_table->RawText(2), "    0.00");
  EXPECT_EQ(m_table->RawText(3), "  0.00");
  EXPECT_EQ(m_table->RecordImage()[0], ' ');
}

}  // namespace
}  // namespace qm::dbf

namespace qm::dbf {
namespace {

TEST(CharacterFields, LongerThan255KeepTheHighByteInTheDecimals) {
  test::ScratchDir dir;
  const std::vector<FieldSpec> fields = {{"LONG", 'C', 300, 1}, {"CODE", 'C', 4}};
  const std::string text = std::string(299, 'x') + "y";
  test::WriteFileBytes(dir.File("WIDE.DBF"),
                       test::TableBytes(0x03, fields, {test::RecordBytes(fields, {text, "AB"})}));
  TbrTable table(dir.File("wide"), kOpenSharedReadOnly);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_EQ(table.FieldLength(1), 300u);
  EXPECT_EQ(table.FieldDecimals(1), 0u);
  EXPECT_EQ(table.FieldOffset(2), 301u);
  ASSERT_TRUE(table.GoTo(1));
  EXPECT_EQ(table.Text(1), text);
  EXPECT_EQ(table.Text(2), "AB");
}

TEST(VisualFoxFields, BinaryNumbersRoundTrip) {
  test::ScratchDir dir;
  const std::vector<FieldSpec> fields = {{"N", 'I', 4}, {"D", 'B', 8, 2}, {"Y", 'Y', 8, 4}};
  std::string bytes = test::TableBytes(0x30, fields, {std::string(21, ' ')});
  // Visual FoxPro headers carry the 263-byte back-link area after the terminator.
  layout::PutU16(reinterpret_cast<uint8_t*>(bytes.data()) + 8, 32 * 3 + 33 + 263);
  bytes.insert(32 * 3 + 33, std::string(263, '\0'));
  test::WriteFileBytes(dir.File("VFP.DBF"), bytes);
  TbrTable table(dir.File("vfp"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(1));
  table.BlankRecord();
  EXPECT_EQ(table.RawText(1), std::string(4, '\0'));
  ASSERT_TRUE(table.PutNumber(1, -123456));
  ASSERT_TRUE(table.PutNumber(2, 3.25));
  ASSERT_TRUE(table.PutNumber(3, 19.9999));
  EXPECT_EQ(table.Number(1), -123456);
  EXPECT_EQ(table.Number(2), 3.25);
  EXPECT_DOUBLE_EQ(table.Number(3), 19.9999);
  EXPECT_EQ(table.RawText(1), std::string("\xC0\x1D\xFE\xFF", 4));
}

}  // namespace
}  // namespace qm::dbf
