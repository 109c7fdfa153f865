// dBASE III memo file: placement of memos in 512-byte blocks, growth and
// moves, reading back, and the limits of a memo.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "dbf/dbf_format.h"
#include "dbf/memo_file.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class MemoDbase3 : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(m_dir.File("CATALOG.DBT"), test::EmptyDb3Memo());
    Reopen();
  }
  void Reopen() {
    m_memo.reset();
    m_memo = std::make_unique<TbrMemoFile>(nullptr, m_dir.File("CATALOG.DBF"), kOpenSharedReadWrite,
                                           layout::kVersionDb3Memo, 0, TbrLokProtocol::Default);
    ASSERT_TRUE(m_memo->Usable());
  }
  std::string Bytes() { return ReadFileBytes(m_dir.File("CATALOG.DBT")); }
  uint32_t NextFree() { return layout::GetU32(reinterpret_cast<const uint8_t*>(Bytes().data())); }

  test::ScratchDir m_dir;
  std::unique_ptr<TbrMemoFile> m_memo;
};

TEST_F(MemoDbase3, FirstMemoGoesToBlockOneWithTerminatorAndPadding) {
  EXPECT_EQ(m_memo->WriteMemo(0, "0123456789"), 1u);
  const std::string bytes = Bytes();
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(bytes.substr(512, 12), "0123456789\x1A\x1A");
  EXPECT_EQ(bytes.substr(524), std::string(500, '\0'));
  EXPECT_EQ(NextFree(), 2u);
  EXPECT_EQ(m_memo->ReadMemoText(1), "0123456789");
}

TEST_F(MemoDbase3, BlockCountsAtTheBlockBoundary) {
  EXPECT_EQ(m_memo->WriteMemo(0, std::string(510, 'a')), 1u);  // 510 + terminator = one block
  EXPECT_EQ(m_memo->WriteMemo(0, std::string(511, 'b')), 2u);  // needs two
  EXPECT_EQ(m_memo->WriteMemo(0, std::string(512, 'c')), 4u);  // terminator starts its 2nd block
  EXPECT_EQ(NextFree(), 6u);
  EXPECT_EQ(Bytes().substr(6 * 512 - 512, 2), "\x1A\x1A");
  Reopen();
  EXPECT_EQ(m_memo->ReadMemoText(4), std::string(512, 'c'));
  EXPECT_EQ(m_memo->ReadMemoText(2), std::string(511, 'b'));
}

TEST_F(MemoDbase3, GrowingMemoMovesToTheEndAndLeavesOldBlocks) {
  const uint32_t first = *m_memo->WriteMemo(0, "short text");
  ASSERT_EQ(m_memo->ReadMemoText(first), "short text");
  const uint32_t grown = *m_memo->WriteMemo(first, std::string(700, 'g'));
  EXPECT_EQ(grown, 2u);
  EXPECT_EQ(Bytes().substr(512, 10), "short text");  // abandoned, not cleared
  // Shrinking again fits the two blocks it now has: rewritten in place.
  EXPECT_EQ(m_memo->WriteMemo(grown, "tiny"), grown);
  EXPECT_EQ(m_memo->ReadMemoText(grown), "tiny");
  EXPECT_EQ(NextFree(), 4u);
}

TEST_F(MemoDbase3, RewriteOfUnreadMemoNeverOverrunsItsNeighbour) {
  const uint32_t a = *m_memo->WriteMemo(0, "memo A");
  const uint32_t b = *m_memo->WriteMemo(0, "memo B");
  const uint32_t c = *m_memo->WriteMemo(0, std::string(1500, 'C'));
  m_memo->ReadMemoText(c);  // the memo last read is three blocks long
  const uint32_t moved = *m_memo->WriteMemo(a, std::string(700, 'A'));
  EXPECT_NE(moved, a);
  EXPECT_EQ(m_memo->ReadMemoText(b), "memo B");
  EXPECT_EQ(m_memo->ReadMemoText(moved), std::string(700, 'A'));
}

TEST_F(MemoDbase3, ReadingCopiesAtMostTheCapacity) {
  const uint32_t block = *m_memo->WriteMemo(0, "abcdefgh");
  char buffer[8] = {};
  EXPECT_EQ(m_memo->MemoLength(block), 8u);
  EXPECT_EQ(m_memo->ReadMemo(block, buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(m_memo->ReadMemo(0, buffer, sizeof buffer), 0u);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(MemoDbase3, TextIsStoredByteForByte) {
  const std::string text = "line one\r\nline two\x8D\nhalf\x01\xFF end";
  const uint32_t block = *m_memo->WriteMemo(0, text);
  Reopen();
  EXPECT_EQ(m_memo->ReadMemoText(block), text);
}

TEST_F(MemoDbase3, EmptyTexts) {
  EXPECT_EQ(m_memo->WriteMemo(0, ""), 0u);  // nothing to write
  EXPECT_EQ(Bytes().size(), 513u);
  const uint32_t block = *m_memo->WriteMemo(0, "to be emptied");
  EXPECT_EQ(m_memo->WriteMemo(block, ""), block);  // an empty memo keeps its place
  EXPECT_EQ(m_memo->MemoLength(block), 0u);
}

TEST_F(MemoDbase3, TextTooLongToReadBackIsRefused) {
  test::ReportRecorder reports;
  EXPECT_FALSE(m_memo->WriteMemo(0, std::string(65520, 'x')).has_value());
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_EQ(reports.Reports()[0].code, code::kMemoBuffer);
  EXPECT_EQ(Bytes().size(), 513u);
  EXPECT_EQ(m_memo->WriteMemo(0, std::string(65519, 'x')), 1u);
  EXPECT_EQ(m_memo->MemoLength(1), 65519u);
}

// Another program holding the memo lock (one byte at 0x7FFFFFFD under the
// Default protocol) makes a write wait its retry period and then fail with
// the lock violation, leaving the file alone; a lock beside it stops nothing.
TEST_F(MemoDbase3, MemoLockHeldElsewhereRefusesTheWrite) {
  const int other = open(m_dir.File("CATALOG.DBT").c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  struct flock beside {};
  beside.l_type = F_WRLCK;
  beside.l_whence = SEEK_SET;
  beside.l_start = 0x7FFFFFFC;
  beside.l_len = 1;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &beside), 0);
  EXPECT_EQ(m_memo->WriteMemo(0, "first"), 1u);
  struct flock memoLock = beside;
  memoLock.l_start = 0x7FFFFFFD;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &memoLock), 0);
  const std::string before = Bytes();
  test::ReportRecorder reports;
  EXPECT_FALSE(m_memo->WriteMemo(0, "second").has_value());
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_EQ(reports.Reports()[0].code, code::kLockViolation);
  EXPECT_EQ(reports.Reports()[0].subCode, subcode::kLock);
  EXPECT_EQ(Bytes(), before);
  close(other);
}

// 0x1A ends a dBASE III memo: a text holding one would be cut on reading.
TEST_F(MemoDbase3, TextHoldingTheEndOfMemoByteIsRefused) {
  const std::vector<test::FieldSpec> fields = {{"CODE", 'C', 4}, {"SNOTES", 'M', 10}};
  WriteFileBytes(m_dir.File("CATALOG.DBF"), test::TableBytes(0x83, fields, {}));
  m_memo.reset();
  const std::string before = Bytes();
  test::ReportRecorder reports;
  TbrTable table(m_dir.File("CATALOG.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.BlankRecord();
  EXPECT_FALSE(table.WriteMemo("SNOTES", std::string("before\x1A after")));
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_EQ(reports.Reports()[0].code, code::kFieldType);
  EXPECT_EQ(reports.Reports()[0].text,
            "Memo text for CATALOG->SNOTES holds the byte 0x1A, which ends a dBASE III memo");
  EXPECT_EQ(table.MemoBlock(2), 0);
  EXPECT_EQ(Bytes(), before);
}

TEST(MemoFile, BlockNumberFromTheField) {
  EXPECT_EQ(TbrMemoFile::BlockFromField("          "), 0u);
  EXPECT_EQ(TbrMemoFile::BlockFromField("         0"), 0u);
  EXPECT_EQ(TbrMemoFile::BlockFromField("        12"), 12u);
  EXPECT_EQ(TbrMemoFile::BlockFromField("      1x 2"), 0u);
  EXPECT_EQ(TbrMemoFile::BlockFromField("9999999999"), 0xFFFFFFFFu);
}

TEST(MemoFile, PathAndLayoutFollowTheTable) {
  memo::MemoLayout layout{};
  EXPECT_TRUE(TbrMemoFile::LayoutForTable(0x83, 0, layout));
  EXPECT_EQ(layout, memo::MemoLayout::DBase3);
  EXPECT_TRUE(TbrMemoFile::LayoutForTable(0x30, 0x02, layout));
  EXPECT_EQ(layout, memo::MemoLayout::FoxPro);
  EXPECT_FALSE(TbrMemoFile::LayoutForTable(0x30, 0x00, layout));
  EXPECT_FALSE(TbrMemoFile::LayoutForTable(0x03, 0x02, layout));
  EXPECT_EQ(TbrMemoFile::MemoPathFor("/a.b/CATALOG.DBF", memo::MemoLayout::DBase3),
            "/a.b/CATALOG.DBT");
  EXPECT_EQ(TbrMemoFile::MemoPathFor("/a.b/STOCK", memo::MemoLayout::FoxPro), "/a.b/STOCK.FPT");
}

TEST(MemoFile, MissingMemoFileIsReportedThroughTheOwner) {
  test::ScratchDir dir;
  struct Owner : TbrErrorReporter {
    std::vector<std::pair<int32_t, int32_t>> seen;
    void Error(int32_t code, int32_t subCode, const char*) override {
      seen.emplace_back(code, subCode);
    }
  } owner;
  TbrMemoFile memo(&owner, dir.File("NONE.DBF"), kOpenSharedReadWrite, 0x83, 0,
                   TbrLokProtocol::Default);
  EXPECT_FALSE(memo.Usable());
  ASSERT_EQ(owner.seen.size(), 1u);
  EXPECT_EQ(owner.seen[0], std::make_pair(code::kFileNotFound, subcode::kMemoOpen));
}

}  // namespace
}  // namespace qm::dbf
