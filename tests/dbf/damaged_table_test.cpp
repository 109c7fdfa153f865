// Damaged table files give a clear engine error (or an empty value) and never
// a crash or a hang; the plain reader walks what the engine opens.
#include <gtest/gtest.h>

#include "dbf/dbf_format.h"
#include "dbf/plain_reader.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::FieldSpec;

const std::vector<FieldSpec> kFields = {{"NAME", 'C', 10}, {"SNOTES", 'M', 10}};

class DamagedTableTest : public ::testing::Test {
 protected:
  std::string Good(int records = 3) {
    std::vector<std::string> bytes;
    for (int i = 1; i <= records; ++i)
      bytes.push_back(test::RecordBytes(kFields, {"N" + std::to_string(i)}));
    return test::TableBytes(0x03, kFields, bytes);
  }
  // The message the default handler raises when the damaged file is opened.
  std::string OpenError(const std::string& bytes) {
    test::WriteFileBytes(m_dir.File("BAD.DBF"), bytes);
    TbrTable table(m_dir.File("bad"), kOpenSharedReadWrite);
    try {
      table.OpenTable();
    } catch (const EEngineIoError& e) {
      EXPECT_EQ(e.Code(), 1001);
      EXPECT_EQ(e.SubCode(), 1204);
      EXPECT_FALSE(table.Usable());
      EXPECT_FALSE(table.GoTo(kGoTop));
      return e.what();
    }
    return "opened";
  }
  std::string Prefix() const {
    return "Bramble Error 1001, SubCode 1204  " + m_dir.File("BAD.DBF");
  }
  static void SetU16(std::string& bytes, size_t at, uint32_t value) {
    layout::PutU16(reinterpret_cast<uint8_t*>(bytes.data()) + at, value);
  }
  test::ScratchDir m_dir;
};

TEST_F(DamagedTableTest, HeaderLengthBeyondTheFile) {
  std::string bytes = Good();
  SetU16(bytes, 8, 60000);
  EXPECT_EQ(OpenError(bytes), Prefix() + " (header length 60000 beyond the end of the file)");
}

TEST_F(DamagedTableTest, HeaderLengthTooSmall) {
  std::string bytes = Good();
  SetU16(bytes, 8, 20);
  EXPECT_EQ(OpenError(bytes), Prefix() + " (header length 20 too small)");
}

// Not 32 bytes per field plus 33, and no terminator among the descriptors:
// opening it as a table with fewer (or no) fields would misread every record.
TEST_F(DamagedTableTest, HeaderLengthNotAWholeNumberOfDescriptors) {
  for (const uint32_t length : {40u, 97u - 5u}) {
    std::string bytes = Good();
    SetU16(bytes, 8, length);
    bytes[96] = 'A';  // the terminator is not where the header length puts it
    EXPECT_EQ(OpenError(bytes), Prefix() + " (header length " + std::to_string(length) +
                                    " is not 32 bytes per field plus 33)");
  }
}

TEST_F(DamagedTableTest, RecordLengthZero) {
  std::string bytes = Good();
  SetU16(bytes, 10, 0);
  EXPECT_EQ(OpenError(bytes), Prefix() + " (record length 0)");
}

TEST_F(DamagedTableTest, DescriptorAreaOfAbsurdSize) {
  std::string bytes = Good();
  SetU16(bytes, 8, 65535);
  bytes.resize(70000, 'A');  // garbage where descriptors are looked for
  bytes[96] = 'A';           // no terminator after the real descriptors
  EXPECT_EQ(OpenError(bytes).substr(0, Prefix().size() + 8), Prefix() + " (field ");
}

TEST_F(DamagedTableTest, FieldReachingPastTheRecordLength) {
  std::string bytes = Good();
  SetU16(bytes, 10, 15);
  EXPECT_EQ(OpenError(bytes), Prefix() + " (field SNOTES reaches past the record length 15)");
}

TEST_F(DamagedTableTest, FileShorterThanAHeader) {
  EXPECT_EQ(OpenError(Good().substr(0, 20)), Prefix() + " (file shorter than a table header)");
  EXPECT_EQ(OpenError(""), Prefix() + " (file shorter than a table header)");
}

TEST_F(DamagedTableTest, TruncatedInsideARecordCountsWholeRecordsOnly) {
  test::WriteFileBytes(m_dir.File("CUT.DBF"), Good(3).substr(0, 97 + 21 * 2 + 7));
  TbrTable table(m_dir.File("cut"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_EQ(table.RecordCount(), 2);
  ASSERT_TRUE(table.GoTo(2));
  EXPECT_FALSE(table.GoTo(kGoNext));
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.Text(1), "N2");
}

TEST_F(DamagedTableTest, EarlyTerminatorEndsTheFieldList) {
  std::string bytes = Good();
  SetU16(bytes, 8, 97 + 64);  // padding after the terminator, as some writers leave
  bytes.insert(97, std::string(64, '\0'));
  test::WriteFileBytes(m_dir.File("PAD.DBF"), bytes);
  TbrTable table(m_dir.File("pad"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_EQ(table.FieldCount(), 2);
  ASSERT_TRUE(table.GoTo(kGoTop));
  EXPECT_EQ(table.Text("name"), "N1");
}

TEST_F(DamagedTableTest, MissingMemoFileIsReportedOnceThenMemosAreEmpty) {
  test::ReportRecorder recorder;
  std::vector<std::string> records = {test::RecordBytes(kFields, {"A", "1"})};
  test::WriteFileBytes(m_dir.File("NOMEMO.DBF"), test::TableBytes(0x83, kFields, records));
  TbrTable table(m_dir.File("nomemo"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(1));
  EXPECT_EQ(table.MemoText(2), "");
  ASSERT_EQ(recorder.Reports().size(), 1u);
  EXPECT_EQ(recorder.Reports()[0].code, 2);
  EXPECT_EQ(recorder.Reports()[0].subCode, 6101);
  EXPECT_EQ(table.MemoLength(2), 0u);
  EXPECT_FALSE(table.WriteMemo(2, "text"));
  EXPECT_EQ(recorder.Reports().size(), 1u);
  EXPECT_FALSE(table.MemoExpected());
}

// The memo file was cut short (or the pointer damaged): the memo reads empty
// and the damage is reported, never passed off as a product without notes.
TEST_F(DamagedTableTest, MemoBlockPastTheEndIsReportedAsCutShort) {
  std::vector<std::string> records = {test::RecordBytes(kFields, {"A", "999999"})};
  test::WriteFileBytes(m_dir.File("FAR.DBF"), test::TableBytes(0x83, kFields, records));
  test::WriteFileBytes(m_dir.File("FAR.DBT"), test::EmptyDb3Memo());
  test::ReportRecorder recorder;
  TbrTable table(m_dir.File("far"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(1));
  EXPECT_EQ(table.Text(2), "---MEMO---");
  EXPECT_EQ(table.MemoText(2), "");
  ASSERT_EQ(recorder.Reports().size(), 1u);
  EXPECT_EQ(recorder.Reports()[0].code, code::kNotTextMemo);
  EXPECT_EQ(recorder.Reports()[0].subCode, subcode::kMemoPastEnd);
}

TEST_F(DamagedTableTest, PlainReaderWalksAndSkipsDeletedRecords) {
  std::vector<std::string> records = {test::RecordBytes(kFields, {"ONE"}),
                                      test::RecordBytes(kFields, {"GONE"}, true),
                                      test::RecordBytes(kFields, {"  THREE"})};
  test::WriteFileBytes(m_dir.File("WALK.DBF"), test::TableBytes(0x03, kFields, records, 17));
  TbrPlainReader reader;
  ASSERT_TRUE(reader.Open(m_dir.File("walk.dbf")));
  EXPECT_EQ(reader.RecordCount(), 3);
  EXPECT_EQ(reader.Field(2).offset, 11u);
  std::vector<std::string> seen;
  std::vector<char> image;
  for (int32_t r = 1; r <= reader.RecordCount(); ++r) {
    ASSERT_TRUE(reader.ReadRecord(r, image));
    if (!TbrPlainReader::Deleted(image)) seen.emplace_back(reader.FieldText(image, "name "));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"ONE", "  THREE"}));
  EXPECT_FALSE(reader.ReadRecord(4, image));
}

TEST_F(DamagedTableTest, PlainReaderRefusalCarriesTheEngineMessage) {
  std::string bytes = Good();
  bytes[0] = static_cast<char>(0x8C);
  test::WriteFileBytes(m_dir.File("BAD.DBF"), bytes);
  TbrPlainReader reader;
  EXPECT_FALSE(reader.Open(m_dir.File("BAD.DBF")));
  EXPECT_EQ(reader.ErrorMessage(), Prefix());
  EXPECT_FALSE(reader.Open(m_dir.File("none.dbf")));
  EXPECT_EQ(reader.ErrorMessage(), "Bramble Error 2, SubCode 1204  " + m_dir.File("NONE.DBF"));
}

}  // namespace
}  // namespace qm::dbf
