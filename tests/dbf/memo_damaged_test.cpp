// Damaged memo files: every case gives an empty value or a clear engine
// error, never a crash, a hang or an absurd allocation, and never overwrites
// memos already in the file.
#include <gtest/gtest.h>

#include "dbf/dbf_format.h"
#include "dbf/memo_bytes.h"
#include "dbf/memo_file.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class MemoDamaged : public ::testing::Test {
 protected:
  // Writes the memo file and opens it as the memo of a table of this version.
  std::unique_ptr<TbrMemoFile> Open(const std::string& bytes, uint8_t version = 0x83) {
    const bool fox = version == 0xF5;
    WriteFileBytes(m_dir.File(fox ? "T.FPT" : "T.DBT"), bytes);
    return std::make_unique<TbrMemoFile>(nullptr, m_dir.File("T.DBF"), kOpenSharedReadWrite,
                                         version, 0, TbrLokProtocol::Default);
  }
  static std::string Db4Header(uint32_t nextFree, uint32_t blockSize) {
    std::string h(512, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    layout::PutU32(p, nextFree);
    p[18] = 2;
    p[19] = 1;
    layout::PutU32(p + 20, blockSize);
    return h;
  }
  static std::string FoxHeader(uint32_t nextFree, uint32_t blockSize) {
    std::string h(512, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    bytes::PutBe32(p, nextFree);
    bytes::PutBe16(p + 6, blockSize);
    return h;
  }

  test::ScratchDir m_dir;
  test::ReportRecorder m_reports;
};

TEST_F(MemoDamaged, BlockPastEndOfFileIsReportedAsCutShort) {
  auto memo = Open(test::EmptyDb3Memo());
  ASSERT_TRUE(memo->Usable());
  for (uint32_t block : {2u, 1000u, 0xFFFFFFFFu}) {
    m_reports.Clear();
    EXPECT_EQ(memo->MemoLength(block), 0u);
    ASSERT_EQ(m_reports.Reports().size(), 1u) << block;
    EXPECT_EQ(m_reports.Reports()[0].code, code::kNotTextMemo);
    EXPECT_EQ(m_reports.Reports()[0].subCode, subcode::kMemoPastEnd);
    EXPECT_NE(m_reports.Reports()[0].text.find("T.DBT (block " + std::to_string(block) + ")"), std::string::npos);
    EXPECT_EQ(memo->ReadMemoText(block), "");
  }
  // A dBASE IV block whose header the file cannot hold is cut short too.
  m_reports.Clear();
  EXPECT_EQ(Open(Db4Header(2, 512) + "\xFF\xFF", 0x8B)->MemoLength(1), 0u);
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].subCode, subcode::kMemoPastEnd);
}

TEST_F(MemoDamaged, MemoWithoutTerminatorEndsAtEndOfFile) {
  auto memo = Open(test::EmptyDb3Memo().substr(0, 512) + std::string(300, 'x'));
  EXPECT_EQ(memo->ReadMemoText(1), std::string(300, 'x'));
}

TEST_F(MemoDamaged, MemoWithoutTerminatorStopsAt65519Bytes) {
  auto memo = Open(test::EmptyDb3Memo().substr(0, 512) + std::string(70000, 'y'));
  EXPECT_EQ(memo->MemoLength(1), 65519u);
  EXPECT_EQ(memo->ReadMemoText(1).size(), 65519u);
}

TEST_F(MemoDamaged, AbsurdBlockSizeMakesTheMemoFileUnusable) {
  for (uint32_t size : {0u, 0x7FFFFFFFu}) {
    m_reports.Clear();
    auto memo = Open(Db4Header(1, size), 0x8B);
    EXPECT_FALSE(memo->Usable()) << size;
    ASSERT_EQ(m_reports.Reports().size(), 1u);
    EXPECT_EQ(m_reports.Reports()[0].code, code::kNotTextMemo);
    EXPECT_EQ(m_reports.Reports()[0].subCode, subcode::kMemoOpen);
  }
  m_reports.Clear();
  EXPECT_FALSE(Open(FoxHeader(8, 0), 0xF5)->Usable());
  EXPECT_EQ(m_reports.Reports().size(), 1u);
}

TEST_F(MemoDamaged, TruncatedHeader) {
  EXPECT_FALSE(Open(Db4Header(1, 512).substr(0, 10), 0x8B)->Usable());
  EXPECT_FALSE(Open(FoxHeader(8, 64).substr(0, 5), 0xF5)->Usable());
  // dBASE III reads need no header; a write refuses and leaves the file alone.
  auto memo = Open(std::string("\x01\x00", 2), 0x83);
  ASSERT_TRUE(memo->Usable());
  EXPECT_EQ(memo->ReadMemoText(1), "");  // past the end: reported
  m_reports.Clear();
  EXPECT_FALSE(memo->WriteMemo(0, "text").has_value());
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].code, code::kNotTextMemo);
  EXPECT_EQ(ReadFileBytes(m_dir.File("T.DBT")), std::string("\x01\x00", 2));
}

TEST_F(MemoDamaged, BlockHeaderThatIsNotATextMemo) {
  std::string db4 = Db4Header(2, 512) + std::string(512, '\0');
  db4.replace(512, 8, "\x01\x02\x08\x00\x10\x00\x00\x00", 8);
  EXPECT_EQ(Open(db4, 0x8B)->MemoLength(1), 0u);
  std::string fox = FoxHeader(9, 64) + std::string(64, '\0');
  fox.replace(512, 8, "\x00\x00\x00\x07\x00\x00\x00\x04", 8);
  EXPECT_EQ(Open(fox, 0xF5)->MemoLength(8), 0u);
  ASSERT_EQ(m_reports.Reports().size(), 2u);
  for (const test::Report& r : m_reports.Reports()) {
    EXPECT_EQ(r.code, code::kNotTextMemo);
    EXPECT_EQ(r.subCode, subcode::kMemoBlockHeader);
  }
}

TEST_F(MemoDamaged, HugeLengthInBlockHeaderIsCutToTheFile) {
  std::string fox = FoxHeader(9, 64) + std::string(8, '\0') + "twenty bytes of text";
  fox.replace(512, 8, "\x00\x00\x00\x01\x7F\xFF\xFF\xFF", 8);
  EXPECT_EQ(Open(fox, 0xF5)->ReadMemoText(8), "twenty bytes of text");
}

TEST_F(MemoDamaged, StaleNextFreeBlockNeverHandsOutBlocksInUse) {
  auto memo = Open(test::EmptyDb3Memo());
  const uint32_t first = *memo->WriteMemo(0, std::string(600, 'a'));
  std::string bytes = ReadFileBytes(m_dir.File("T.DBT"));
  bytes[0] = 1;  // the header forgets the memo
  WriteFileBytes(m_dir.File("T.DBT"), bytes);
  memo = Open(bytes);
  EXPECT_EQ(memo->WriteMemo(0, "new"), 3u);
  EXPECT_EQ(memo->ReadMemoText(first), std::string(600, 'a'));
}

// The header's next free block is bounded by the file either way: too low
// (another program did not pad its last memo) it must not hand out that memo's
// block; absurdly high it must not leave a gap of any size.
TEST_F(MemoDamaged, NextFreeBlockIsBoundedByTheFileSize) {
  std::string unpadded = test::EmptyDb3Memo().substr(0, 512) + "abc\x1A\x1A";
  unpadded[0] = 1;
  auto memo = Open(unpadded);
  EXPECT_EQ(memo->WriteMemo(0, "new"), 2u);
  EXPECT_EQ(memo->ReadMemoText(1), "abc");
  EXPECT_EQ(memo->ReadMemoText(2), "new");

  std::string garbage = test::EmptyDb3Memo();
  layout::PutU32(reinterpret_cast<uint8_t*>(garbage.data()), 0x7FFFFFFF);
  memo = Open(garbage);
  EXPECT_EQ(memo->WriteMemo(0, "first"), 1u);
  EXPECT_EQ(memo->WriteMemo(0, "second"), 2u);
  EXPECT_EQ(ReadFileBytes(m_dir.File("T.DBT")).size(), 3u * 512);
  EXPECT_EQ(layout::GetU32(reinterpret_cast<const uint8_t*>(ReadFileBytes(m_dir.File("T.DBT")).data())), 3u);
  EXPECT_TRUE(m_reports.Reports().empty());
}

// A record pointing past the end of a cut-short file: a memo appended now
// would become that record's text, so nothing is appended and it is reported;
// once no record points there, writes go on.
TEST_F(MemoDamaged, RecordPointingPastTheEndStopsAppends) {
  const std::string bytes = test::EmptyDb3Memo().substr(0, 512) + "kept\x1A\x1A";
  auto memo = Open(bytes);
  std::vector<uint32_t> inUse = {1, 3};
  memo->SetBlocksInUse([&] { return inUse; });
  EXPECT_FALSE(memo->WriteMemo(0, "lost?").has_value());
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].subCode, subcode::kMemoPastEnd);
  EXPECT_EQ(ReadFileBytes(m_dir.File("T.DBT")), bytes);
  inUse = {1};
  EXPECT_EQ(memo->WriteMemo(0, "goes on"), 2u);
  EXPECT_EQ(memo->ReadMemoText(1), "kept");
}

// A memo written for a record whose write was then refused goes again: the
// file is as it was, unless another memo was appended after it.
TEST_F(MemoDamaged, RefusedRecordTakesItsMemoBack) {
  const std::string bytes = test::EmptyDb3Memo();
  auto memo = Open(bytes);
  const uint32_t block = *memo->WriteMemo(0, std::string(700, 'r'));
  EXPECT_TRUE(memo->TakeBack(block));
  EXPECT_EQ(ReadFileBytes(m_dir.File("T.DBT")), bytes);
  const uint32_t first = *memo->WriteMemo(0, "first");
  const uint32_t second = *memo->WriteMemo(0, "second");
  EXPECT_FALSE(memo->TakeBack(first));  // not the last memo: it stays, abandoned
  EXPECT_EQ(memo->ReadMemoText(second), "second");
  EXPECT_TRUE(memo->TakeBack(second));
  EXPECT_EQ(memo->ReadMemoText(first), "first");
  EXPECT_EQ(ReadFileBytes(m_dir.File("T.DBT")).size(), 1024u);
}

// dBASE IV free runs are checked against the memos the records point at: a
// run over a memo in use (at its start, or reaching into it) is cut from the
// chain, the memo goes at the end, and a block a record still uses is never
// given to the chain.
TEST_F(MemoDamaged, FreeChainIntoMemosInUseIsCut) {
  auto memoBlock = [](const std::string& text) {
    std::string b(512, '\0');
    b.replace(0, 8, "\xFF\xFF\x08\x00\x00\x00\x00\x00", 8);
    layout::PutU32(reinterpret_cast<uint8_t*>(b.data()) + 4, static_cast<uint32_t>(text.size() + 8));
    b.replace(8, text.size(), text);
    return b;
  };
  // Block 1 memo A, blocks 2-3 free, block 4 memo B.
  std::string db4 = Db4Header(5, 512) + memoBlock("memo A") + std::string(1024, '\0') + memoBlock("memo B");
  auto* p = reinterpret_cast<uint8_t*>(db4.data());
  for (const auto& [head, count] : {std::pair<uint32_t, uint32_t>{4, 1}, {2, 3}}) {
    std::string bytes = db4;
    auto* q = reinterpret_cast<uint8_t*>(bytes.data());
    layout::PutU32(q + 24, head);
    layout::PutU32(q + head * 512 + 4, count);
    if (head == 4) layout::PutU32(q + 4 * 512 + 4, 14);  // B's length word doubles as the run's count
    auto memo = Open(bytes, 0x8B);
    memo->SetBlocksInUse([] { return std::vector<uint32_t>{1, 4}; });
    const std::optional<uint32_t> block = memo->WriteMemo(0, std::string(600, 'n'));
    EXPECT_EQ(block, 5u) << "chain head " << head;
    EXPECT_EQ(memo->ReadMemoText(1), "memo A");
    EXPECT_EQ(memo->ReadMemoText(4), "memo B") << "chain head " << head;
  }
  (void)p;
  auto memo = Open(db4, 0x8B);
  memo->SetBlocksInUse([] { return std::vector<uint32_t>{1, 4}; });
  EXPECT_TRUE(memo->FreeBlocks(4));  // a record still names it: kept
  EXPECT_EQ(layout::GetU32(reinterpret_cast<const uint8_t*>(ReadFileBytes(m_dir.File("T.DBT")).data()) + 24), 0u);
  EXPECT_EQ(memo->ReadMemoText(4), "memo B");
}

TEST_F(MemoDamaged, CircularFreeChainIsCutNotFollowed) {
  // dBASE IV: chain head 1, and block 1 links back to itself.
  std::string db4 = Db4Header(3, 512) + std::string(1024, '\0');
  auto* p = reinterpret_cast<uint8_t*>(db4.data());
  layout::PutU32(p + 24, 1);
  layout::PutU32(p + 512, 1);
  layout::PutU32(p + 516, 1);
  auto memo = Open(db4, 0x8B);
  ASSERT_TRUE(memo->Usable());
  const std::optional<uint32_t> block = memo->WriteMemo(0, "after the loop");
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(memo->ReadMemoText(*block), "after the loop");
}

}  // namespace
}  // namespace qm::dbf
