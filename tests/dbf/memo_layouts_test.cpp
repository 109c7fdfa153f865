// dBASE IV and FoxPro memo layouts (files made by the table creator), and
// the line operations on the memo buffer.
#include <gtest/gtest.h>

#include "dbf/dbf_format.h"
#include "dbf/memo_bytes.h"
#include "dbf/memo_file.h"
#include "dbf/table.h"
#include "dbf/table_creator.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::ReadFileBytes;

class MemoLayouts : public ::testing::Test {
 protected:
  std::unique_ptr<TbrMemoFile> Create(TbrDBFTypes dialect) {
    TbrTableCreator creator(m_dir.File("t.dbf"), dialect);
    creator.AddField("NOTES", 'M', 10, 0);
    EXPECT_TRUE(creator.Create());
    m_table = creator.Path();
    m_version = creator.VersionByte();
    m_memoPath = creator.MemoPath();
    return Reopen();
  }
  std::unique_ptr<TbrMemoFile> Reopen() {
    auto memo = std::make_unique<TbrMemoFile>(nullptr, m_table, kOpenSharedReadWrite, m_version, 0,
                                              TbrLokProtocol::Default);
    EXPECT_TRUE(memo->Usable());
    return memo;
  }
  const uint8_t* At(const std::string& bytes, std::size_t offset) {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
  }

  test::ScratchDir m_dir;
  std::string m_table, m_memoPath;
  uint8_t m_version = 0;
};

TEST_F(MemoLayouts, Dbase4BlockHeaderAndReuseOfFreedBlocks) {
  auto memo = Create(TbrDBFTypes::DBaseIV);
  EXPECT_EQ(memo->BlockSize(), 512u);
  const uint32_t first = *memo->WriteMemo(0, "dBASE IV text");
  EXPECT_EQ(first, 1u);
  std::string bytes = ReadFileBytes(m_memoPath);
  EXPECT_EQ(bytes.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(layout::GetU32(At(bytes, 516)), 8u + 13u);
  const uint32_t second = *memo->WriteMemo(0, "neighbour");
  // Growing moves the memo; its old block stays until the record no longer
  // points there, then it is freed and taken again first fit.
  const uint32_t grown = *memo->WriteMemo(first, std::string(1000, 'g'));
  EXPECT_EQ(grown, 3u);
  EXPECT_EQ(Reopen()->ReadMemoText(first), "dBASE IV text");
  ASSERT_TRUE(memo->FreeBlocks(first));
  EXPECT_EQ(memo->WriteMemo(0, "reuses block one"), first);
  memo = Reopen();
  EXPECT_EQ(memo->ReadMemoText(first), "reuses block one");
  EXPECT_EQ(memo->ReadMemoText(second), "neighbour");
  EXPECT_EQ(memo->ReadMemoText(grown), std::string(1000, 'g'));
}

TEST_F(MemoLayouts, Dbase4RewriteNeverOverwritesTheOldText) {
  auto memo = Create(TbrDBFTypes::DBaseIV);
  const uint32_t block = *memo->WriteMemo(0, std::string(300, 'a'));
  const uint32_t moved = *memo->WriteMemo(block, std::string(400, 'b'));
  EXPECT_NE(moved, block);
  EXPECT_EQ(Reopen()->ReadMemoText(block), std::string(300, 'a'));
  EXPECT_EQ(Reopen()->ReadMemoText(moved), std::string(400, 'b'));
}

// A dBASE IV memo's blocks are freed only once the record that used them is
// rewritten: an edit that is cancelled leaves the record's memo intact.
TEST_F(MemoLayouts, Dbase4CancelledEditKeepsTheRecordsMemo) {
  TbrTableCreator creator(m_dir.File("four.dbf"), TbrDBFTypes::DBaseIV);
  creator.AddField("CODE", 'C', 4, 0);
  creator.AddField("NOTES", 'M', 10, 0);
  ASSERT_TRUE(creator.Create());
  TbrTable table(creator.Path(), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  for (const char* text : {"first memo", "second memo"}) {
    table.BlankRecord();
    ASSERT_TRUE(table.WriteMemo(2, text));
    ASSERT_TRUE(table.AppendRecord());
  }
  ASSERT_TRUE(table.GoTo(1));
  const int32_t firstBlock = table.MemoBlock(2);
  ASSERT_TRUE(table.WriteMemo(2, std::string(2000, 'c')));  // then cancelled
  ASSERT_TRUE(table.GoTo(2));
  ASSERT_TRUE(table.WriteMemo(2, "second, edited"));
  ASSERT_TRUE(table.ReplaceRecord(2));
  ASSERT_TRUE(table.GoTo(1));
  EXPECT_EQ(table.MemoText(2), "first memo");
  // Rewritten now: its old block goes back to the chain and is taken again.
  ASSERT_TRUE(table.WriteMemo(2, "first, edited"));
  ASSERT_TRUE(table.ReplaceRecord(1));
  table.BlankRecord();
  ASSERT_TRUE(table.WriteMemo(2, "third"));
  ASSERT_TRUE(table.AppendRecord());
  EXPECT_EQ(table.MemoBlock(2), firstBlock);
  for (auto [recNo, text] : {std::pair{1, "first, edited"}, {2, "second, edited"}, {3, "third"}}) {
    ASSERT_TRUE(table.GoTo(recNo));
    EXPECT_EQ(table.MemoText(2), text);
  }
}

TEST_F(MemoLayouts, FoxProBigEndianHeadersAndMoveOnGrowth) {
  auto memo = Create(TbrDBFTypes::FoxPro2);
  EXPECT_EQ(memo->BlockSize(), 64u);
  const uint32_t first = *memo->WriteMemo(0, "fox text");
  EXPECT_EQ(first, 8u);
  std::string bytes = ReadFileBytes(m_memoPath);
  EXPECT_EQ(bytes.size(), 9u * 64u);
  EXPECT_EQ(bytes::GetBe32(At(bytes, 0)), 9u);
  EXPECT_EQ(bytes::GetBe32(At(bytes, 512)), 1u);
  EXPECT_EQ(bytes::GetBe32(At(bytes, 516)), 8u);
  EXPECT_EQ(bytes.substr(520, 8), "fox text");
  EXPECT_EQ(memo->WriteMemo(first, "fits still"), first);
  const uint32_t moved = *memo->WriteMemo(first, std::string(100, 'm'));
  EXPECT_EQ(moved, 9u);
  EXPECT_EQ(Reopen()->ReadMemoText(moved), std::string(100, 'm'));
}

TEST_F(MemoLayouts, LinesWrapAtTheLastBlankAndSaveWithoutSoftReturns) {
  auto memo = Create(TbrDBFTypes::DBaseIII);
  std::string longLine;
  while (longLine.size() < 300) longLine += "word ";
  const std::string text = "first\r\n" + longLine + "\r\nlast";
  const uint32_t block = *memo->WriteMemo(0, text);
  ASSERT_TRUE(memo->LoadLines(block));
  EXPECT_EQ(memo->LineCount(), 4);
  EXPECT_EQ(memo->Line(1), "first");
  EXPECT_EQ(memo->Line(2).size(), 255u);  // ends with the blank where it broke
  EXPECT_EQ(memo->Line(2).back(), ' ');
  EXPECT_EQ(memo->Line(4), "last");
  EXPECT_EQ(memo->Line(5), "");
  const uint32_t saved = *memo->SaveLines(block);
  EXPECT_EQ(memo->ReadMemoText(saved), text);
}

TEST_F(MemoLayouts, LineInsertAndLimits) {
  auto memo = Create(TbrDBFTypes::DBaseIII);
  test::ReportRecorder reports;
  ASSERT_TRUE(memo->InsertLine(0, "b", TbrMemoFile::LineEnd::Hard));
  ASSERT_TRUE(memo->InsertLine(1, "a", TbrMemoFile::LineEnd::Soft));
  ASSERT_TRUE(memo->InsertLine(-1, "c", TbrMemoFile::LineEnd::None));
  EXPECT_EQ(memo->LineBuffer(), "a\x8D\nb\r\nc");
  EXPECT_FALSE(memo->InsertLine(-2, "x", TbrMemoFile::LineEnd::Hard));
  EXPECT_FALSE(memo->InsertLine(0, std::string(65519, 'x'), TbrMemoFile::LineEnd::None));
  ASSERT_EQ(reports.Reports().size(), 2u);
  EXPECT_EQ(reports.Reports()[0].subCode, subcode::kMemoLineInsert);
  EXPECT_EQ(reports.Reports()[1].subCode, subcode::kMemoBufferSize);
  EXPECT_EQ(memo->LineBuffer(), "a\x8D\nb\r\nc");
  EXPECT_EQ(memo->ReadMemoText(*memo->SaveLines(0)), "ab\r\nc");
  memo->ClearLines();
  EXPECT_EQ(memo->SaveLines(0), 0u);  // an empty buffer clears the memo
}

TEST_F(MemoLayouts, ZeroBytesInsideAMemoBecomeTildesForLineWork) {
  auto memo = Create(TbrDBFTypes::DBaseIII);
  const uint32_t block = *memo->WriteMemo(0, std::string("a\0b\0", 4));
  ASSERT_TRUE(memo->LoadLines(block));
  EXPECT_EQ(memo->LineBuffer(), std::string("a~b\0", 4));
}

}  // namespace
}  // namespace qm::dbf
