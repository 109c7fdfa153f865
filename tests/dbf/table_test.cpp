// The table object: navigation edge cases, appends and replaces as they land
// on disk, field lookup and field put.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>

#include "dbf/dbf_format.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::FieldSpec;
using test::ReadFileBytes;

const std::vector<FieldSpec> kFields = {{"CODE", 'C', 5}, {"PRICE", 'N', 5}, {"SNOTES", 'M', 10}};

class TableTest : public ::testing::Test {
 protected:
  std::string Write(int records, int32_t headerCount = -1, uint8_t version = 0x03) {
    std::vector<std::string> bytes;
    for (int i = 1; i <= records; ++i)
      bytes.push_back(test::RecordBytes(kFields, {"R" + std::to_string(i), std::to_string(i)}));
    const std::string path = m_dir.File("items.dbf");
    test::WriteFileBytes(path, test::TableBytes(version, kFields, bytes, headerCount));
    return path;
  }
  test::ScratchDir m_dir;
  test::ReportRecorder m_reports;
};

TEST_F(TableTest, EmptyTableGoTopSetsBofAndEof) {
  TbrTable table(Write(0), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_FALSE(table.GoTo(kGoTop));
  EXPECT_TRUE(table.Bof());
  EXPECT_TRUE(table.Eof());
}

TEST_F(TableTest, NextPastLastSetsEofAndKeepsRecord) {
  TbrTable table(Write(3), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(kGoBottom));
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_FALSE(table.GoTo(kGoNext));
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_EQ(table.Text(1), "R3");
  EXPECT_TRUE(m_reports.Reports().empty());
}

TEST_F(TableTest, TargetTwoAboveCountAndCodesBelowMinusFiveReport1002) {
  TbrTable table(Write(3), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_FALSE(table.GoTo(4));
  EXPECT_TRUE(m_reports.Reports().empty());
  EXPECT_FALSE(table.GoTo(5));
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].code, 1002);
  EXPECT_EQ(m_reports.Reports()[0].subCode, 1207);
  EXPECT_FALSE(table.GoTo(-6));
  EXPECT_TRUE(table.Bof() && table.Eof());
  EXPECT_EQ(m_reports.Reports().size(), 2u);
  EXPECT_FALSE(table.GoTo(0));
}

TEST_F(TableTest, PriorFromFirstSetsBofAndSameRereads) {
  TbrTable table(Write(3), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_FALSE(table.GoTo(kGoSame));  // nothing read yet
  ASSERT_TRUE(table.GoTo(kGoTop));
  EXPECT_FALSE(table.GoTo(kGoPrior));
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(table.RecNo(), 1);
  ASSERT_TRUE(table.GoTo(2));
  table.FieldPut(1, "XX");
  ASSERT_TRUE(table.GoTo(kGoSame));
  EXPECT_EQ(table.Text(1), "R2");
  ASSERT_TRUE(table.GoTo(kGoPrior));
  EXPECT_EQ(table.RecNo(), 1);
}

TEST_F(TableTest, CountComesFromFileSizeNotHeader) {
  TbrTable table(Write(4, 99), kOpenSharedReadOnly);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_EQ(table.RecordCount(), 4);
}

TEST_F(TableTest, UnknownVersionByteIsRefused) {
  for (uint8_t version : {uint8_t{0x04}, uint8_t{0x8C}}) {
    TbrTable table(Write(1, -1, version), kOpenSharedReadWrite);
    EXPECT_FALSE(table.OpenTable());
    EXPECT_FALSE(table.Usable());
    ASSERT_FALSE(m_reports.Reports().empty());
    EXPECT_EQ(m_reports.Reports().back().code, 1001);
    EXPECT_EQ(m_reports.Reports().back().subCode, 1204);
    EXPECT_EQ(m_reports.Reports().back().text, m_dir.File("items.dbf"));
  }
}

TEST_F(TableTest, MissingTableIsCode2WithNormalisedPath) {
  TbrTable table(" \"" + m_dir.File("nothing") + "\" ", kOpenSharedReadWrite);
  EXPECT_FALSE(table.OpenTable());
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].code, 2);
  EXPECT_EQ(m_reports.Reports()[0].text, m_dir.File("NOTHING.DBF"));
}

TEST_F(TableTest, AppendRewritesHeaderAndEndsFileWithMarker) {
  const std::string path = Write(2);
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.SetUserNumber(7);
  table.BlankRecord();
  table.FieldPut(1, "NEW");
  ASSERT_TRUE(table.AppendRecord());
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_FALSE(table.Bof() || table.Eof());
  const std::string bytes = ReadFileBytes(path);  // before close: written at once
  const auto* header = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_EQ(layout::GetU32(header + 4), 3u);
  EXPECT_EQ(layout::GetU32(header + 20), 7u);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(header[1], (local.tm_year + 1900) % 100);
  EXPECT_EQ(header[2], local.tm_mon + 1);
  EXPECT_EQ(bytes.size(), 129u + 3 * 21 + 1);
  EXPECT_EQ(bytes.substr(129 + 2 * 21, 22), test::RecordBytes(kFields, {"NEW", "0"}) + "\x1A");
}

TEST_F(TableTest, ReplaceWritesInPlaceWithoutMarker) {
  const std::string path = Write(3);
  const size_t sizeBefore = ReadFileBytes(path).size();
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(2));
  table.FieldPut(1, "CHG");
  ASSERT_TRUE(table.ReplaceRecord(2));
  const std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(bytes.size(), sizeBefore);
  EXPECT_EQ(bytes.substr(129 + 21, 21), test::RecordBytes(kFields, {"CHG", "2"}));
  EXPECT_EQ(bytes.substr(129 + 42, 5), " R3  ");
  EXPECT_EQ(std::string(table.OriginalImage(), 4), " CHG");
}

TEST_F(TableTest, ReplaceOfRecordBeyondCountAppends) {
  const std::string path = Write(1);
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.BlankRecord();
  ASSERT_TRUE(table.ReplaceRecord(5));
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.RecNo(), 2);
}

TEST_F(TableTest, DeleteAndRecallRewriteOnlyTheFlag) {
  const std::string path = Write(2);
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_FALSE(table.MarkDeleted());  // no current record
  ASSERT_TRUE(table.GoTo(2));
  ASSERT_TRUE(table.MarkDeleted());
  EXPECT_TRUE(table.Deleted());
  EXPECT_EQ(ReadFileBytes(path).substr(129 + 21, 3), "*R2");
  ASSERT_TRUE(table.GoTo(1));
  ASSERT_TRUE(table.GoTo(2));  // navigation does not skip deleted records
  EXPECT_TRUE(table.Deleted());
  ASSERT_TRUE(table.Recall());
  EXPECT_EQ(ReadFileBytes(path).substr(129 + 21, 3), " R2");
}

TEST_F(TableTest, FieldPutAlignsByTypeAndCuts) {
  TbrTable table(Write(1), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.FieldPut(1, "ABC");
  EXPECT_EQ(table.RawText(1), "ABC  ");
  table.FieldPut(2, "ABC");
  EXPECT_EQ(table.RawText(2), "  ABC");
  table.FieldPut(1, "ABCDEFG");
  EXPECT_EQ(table.RawText(1), "ABCDE");
  table.FieldPut(9, "ignored");
  EXPECT_EQ(table.FieldChanged()[1], 1);
}

TEST_F(TableTest, FieldLookupIgnoresCaseAndTrailingBlanks) {
  TbrTable table(Write(1), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  EXPECT_EQ(table.FieldNumber("snotes "), 3);
  EXPECT_EQ(table.FieldOffset(3), 11u);
  EXPECT_EQ(table.FieldNumber("nope"), 0);
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].code, 1003);
  EXPECT_EQ(m_reports.Reports()[0].subCode, 1298);
  EXPECT_EQ(m_reports.Reports()[0].text, "nope");
  EXPECT_EQ(table.Text("nope"), "");  // text by unknown name reports nothing
  EXPECT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(table.FieldName(0), "");
  EXPECT_EQ(table.FieldType(4), 0);
}

TEST_F(TableTest, AppendSeesRecordsThatAnotherWriterAdded) {
  const std::string path = Write(1);
  TbrTable first(path, kOpenSharedReadWrite);
  ASSERT_TRUE(first.OpenTable());
  {
    TbrTable second(path, kOpenSharedReadWrite);
    ASSERT_TRUE(second.OpenTable());
    second.BlankRecord();
    ASSERT_TRUE(second.AppendRecord());
  }
  EXPECT_TRUE(first.GoTo(2));  // beyond the known count: the header is refreshed
  first.BlankRecord();
  first.FieldPut(1, "LAST");
  ASSERT_TRUE(first.AppendRecord());
  EXPECT_EQ(first.RecNo(), 3);
  first.CloseTable();
  EXPECT_EQ(ReadFileBytes(path).size(), 129u + 3 * 21 + 1);
}

TEST_F(TableTest, ReadAheadServesRecordsAndSeesOwnWrites) {
  const std::string path = Write(3000);
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.SetReadAhead(true);
  int seen = 0;
  for (bool ok = table.GoTo(kGoTop); ok; ok = table.GoTo(kGoNext)) {
    ASSERT_EQ(table.Text(1), "R" + std::to_string(table.RecNo()).substr(0, 4));
    ++seen;
  }
  EXPECT_EQ(seen, 3000);
  ASSERT_TRUE(table.GoTo(10));
  table.FieldPut(1, "TEN");
  ASSERT_TRUE(table.ReplaceRecord(10));
  ASSERT_TRUE(table.GoTo(11));
  ASSERT_TRUE(table.GoTo(10));
  EXPECT_EQ(table.Text(1), "TEN");
}

// Another program replaces records behind the read-ahead buffer: "same" and
// a lock (the dataset's edit) read the file, so no replace of theirs is lost.
TEST_F(TableTest, ReadAheadRereadsTheFileOnSameAndAfterALock) {
  const std::string path = Write(50);
  const auto replaceElsewhere = [&path](int recNo, const std::string& code) {
    const int fd = open(path.c_str(), O_RDWR);
    const std::string record = test::RecordBytes(kFields, {code, "1"});
    EXPECT_EQ(pwrite(fd, record.data(), record.size(), 129 + (recNo - 1) * 21), 21);
    close(fd);
  };
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.SetReadAhead(true);
  ASSERT_TRUE(table.GoTo(5));
  replaceElsewhere(5, "NEW5");
  ASSERT_TRUE(table.GoTo(kGoSame));
  EXPECT_EQ(table.Text(1), "NEW5");
  ASSERT_TRUE(table.GoTo(20));
  replaceElsewhere(20, "NEW20");
  replaceElsewhere(21, "NEW21");
  ASSERT_TRUE(table.GoTo(20));  // the record it stands on, asked for by number
  EXPECT_EQ(table.Text(1), "NEW20");
  replaceElsewhere(22, "NEW22");
  ASSERT_TRUE(table.LockRecord());
  ASSERT_TRUE(table.GoTo(kGoNext));
  EXPECT_EQ(table.Text(1), "NEW21");
  ASSERT_TRUE(table.GoTo(kGoNext));
  EXPECT_EQ(table.Text(1), "NEW22");
  EXPECT_TRUE(table.UnlockTable());
}

TEST_F(TableTest, PointedRecordImageIsReadAndAppended) {
  const std::string path = Write(2);
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  std::string buffer(table.RecordLength(), ' ');
  table.PointRecordImage(buffer.data());
  ASSERT_TRUE(table.GoTo(2));
  EXPECT_EQ(buffer.substr(0, 3), " R2");
  buffer.replace(1, 3, "BUF");
  ASSERT_TRUE(table.AppendRecord());
  table.PointRecordImage(nullptr);
  ASSERT_TRUE(table.GoTo(3));
  EXPECT_EQ(table.Text(1), "BUF");
}

}  // namespace
}  // namespace qm::dbf
